#include "config/load_keys.hpp"

#include "config/key_file.hpp"
#include "config/read_text_file.hpp"

#include <openssl/crypto.h>

#include <optional>
#include <string_view>

namespace vemrat::py {

namespace {

// Wipes the bytes of a text that held key material before it is freed.
class WipedOnExit {
public:
    explicit WipedOnExit(std::string& text) noexcept : text_(text) {}
    WipedOnExit(const WipedOnExit&) = delete;
    WipedOnExit& operator=(const WipedOnExit&) = delete;
    ~WipedOnExit() { OPENSSL_cleanse(text_.data(), text_.capacity()); }

private:
    std::string& text_;
};

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
    const WipedOnExit wiped(*value);
    return std::optional<SecretText>(std::in_place, *value);
}

}  // namespace

Result<ClientFields> load_keys_from_file(const std::string& path) {
    // The system call would see only the part before a NUL byte: a different file.
    if (path.find('\0') != std::string::npos) return cannot_read(path, "file name contained a NUL byte");

    auto text = read_text_file(path);
    if (!text) return cannot_read(path, text.error());
    const WipedOnExit wiped(*text);

    std::optional<SecretText> community_key = secret_value(*text, "COMMUNITY_KEY");
    if (!community_key) return fail(PyExc_RuntimeError, "COMMUNITY_KEY not found in auth_key.py");
    std::optional<SecretText> sponsor_key = secret_value(*text, "SPONSOR_KEY");
    if (!sponsor_key) return fail(PyExc_RuntimeError, "SPONSOR_KEY not found in auth_key.py");
    return ClientFields{std::move(*community_key), std::move(*sponsor_key)};
}

}  // namespace vemrat::py
