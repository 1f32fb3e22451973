#include "core/config/load_keys.hpp"

#include "core/config/key_file.hpp"
#include "core/platform/read_file.hpp"
#include "core/text/fill.hpp"
#include "core/text/utf8.hpp"
#include "core/texts.hpp"

#include <optional>
#include <string_view>

namespace vemrat::core {

namespace {

// The key file's text: the whole file, required to be valid UTF-8 (no byte-order mark removed,
// no newline translation); a failure is the reason of the "Cannot read" message. A text the
// caller never gets is wiped here.
std::expected<std::string, std::string> read_key_file(const std::string& path, const AfterSignal& after_signal) {
    auto text = read_regular_file(path, after_signal);
    if (!text) return text;
    if (!is_valid_utf8(*text)) {
        wipe(*text);
        return std::unexpected(std::string(texts::not_utf8));
    }
    return text;
}

// The value of `key` in `text`, moved into a SecretText; the intermediate copy is wiped.
std::optional<SecretText> secret_value(std::string_view text, std::string_view key) {
    std::optional<std::string> value = extract_key_value(text, key);
    if (!value) return std::nullopt;
    const WipeOnExit wiped(*value);
    return std::optional<SecretText>(std::in_place, *value);
}

}  // namespace

std::expected<Keys, std::string> load_keys(const std::string& path, const AfterSignal& after_signal) {
    auto text = read_key_file(path, after_signal);
    if (!text) return std::unexpected(fill(texts::cannot_read_key_file, {path, text.error()}));
    const WipeOnExit wiped(*text);

    std::optional<SecretText> community_key = secret_value(*text, "COMMUNITY_KEY");
    if (!community_key) return std::unexpected(std::string(texts::community_key_not_found));
    std::optional<SecretText> sponsor_key = secret_value(*text, "SPONSOR_KEY");
    if (!sponsor_key) return std::unexpected(std::string(texts::sponsor_key_not_found));
    return Keys{std::move(*community_key), std::move(*sponsor_key)};
}

}  // namespace vemrat::core
