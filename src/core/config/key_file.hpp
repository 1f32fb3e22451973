// Reading key assignments such as `COMMUNITY_KEY = "..."` out of the text of
// auth_key.py, without executing it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vemrat::core {

// The value assigned to `key` on the first line that, trimmed of Unicode white
// space, begins with `key` (a plain byte prefix test) and holds an "=": the
// text after the first "=", trimmed, with one enclosing pair of double quotes
// or else of apostrophes removed. Lines end at LF (a CR before it is dropped).
// `text` is UTF-8.
std::optional<std::string> extract_key_value(std::string_view text, std::string_view key);

// `text` with Unicode White_Space characters (ASCII and multi-byte UTF-8)
// removed from both ends. U+FEFF is not white space.
std::string_view trim_unicode_space(std::string_view text);

}  // namespace vemrat::core
