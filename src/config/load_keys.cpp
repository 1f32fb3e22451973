#include "config/load_keys.hpp"

#include "config/key_file.hpp"
#include "config/read_text_file.hpp"
#include "config/secret_text.hpp"

#include <optional>
#include <string_view>

namespace vemrat::py {

namespace {

std::unexpected<PythonError> cannot_read(const std::string& path, std::string_view reason) {
    std::string message = "Cannot read auth_key.py at ";
    message.append(path).append(": ").append(reason);
    message.append(". Please pass community_key and sponsor_key manually.");
    return fail(PyExc_RuntimeError, std::move(message));
}

// The value of `key` in `text`, moved into a SecretText; the intermediate copy is wiped.
std::optional<SecretText> secret_value(std::string_view text, std::string_view key) {
    std::optional<std::string> value = extract_key_value(text, key);
    if (!value) return std::nullopt;
    const WipeOnExit wiped(*value);
    return std::optional<SecretText>(std::in_place, *value);
}

}  // namespace

Result<ClientFields> load_keys_from_file(const std::string& path) {
    auto text = read_text_file(path);
    if (!text) return cannot_read(path, text.error());
    const WipeOnExit wiped(*text);

    std::optional<SecretText> community_key = secret_value(*text, "COMMUNITY_KEY");
    if (!community_key) return fail(PyExc_RuntimeError, "COMMUNITY_KEY not found in auth_key.py");
    std::optional<SecretText> sponsor_key = secret_value(*text, "SPONSOR_KEY");
    if (!sponsor_key) return fail(PyExc_RuntimeError, "SPONSOR_KEY not found in auth_key.py");
    return ClientFields{std::move(*community_key), std::move(*sponsor_key)};
}

}  // namespace vemrat::py
