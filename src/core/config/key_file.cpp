#include "core/config/key_file.hpp"

namespace vemrat::core {

namespace {

constexpr bool is_ascii_space(unsigned char c) { return (c >= 0x09 && c <= 0x0d) || c == 0x20; }

// U+0085 and U+00A0 are C2 85 and C2 A0.
constexpr bool is_two_byte_space(unsigned char b0, unsigned char b1) {
    return b0 == 0xc2 && (b1 == 0x85 || b1 == 0xa0);
}

// U+1680 (E1 9A 80), U+2000..U+200A (E2 80 80..8A), U+2028, U+2029, U+202F
// (E2 80 A8, A9, AF), U+205F (E2 81 9F) and U+3000 (E3 80 80).
constexpr bool is_three_byte_space(unsigned char b0, unsigned char b1, unsigned char b2) {
    switch (b0) {
        case 0xe1:
            return b1 == 0x9a && b2 == 0x80;
        case 0xe2:
            if (b1 == 0x80) return b2 <= 0x8a ? b2 >= 0x80 : (b2 == 0xa8 || b2 == 0xa9 || b2 == 0xaf);
            return b1 == 0x81 && b2 == 0x9f;
        case 0xe3:
            return b1 == 0x80 && b2 == 0x80;
        default:
            return false;
    }
}

// Byte length of the white space character at the start of `s`, or 0.
std::size_t leading_space(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    if (n >= 1 && is_ascii_space(p[0])) return 1;
    if (n >= 2 && is_two_byte_space(p[0], p[1])) return 2;
    if (n >= 3 && is_three_byte_space(p[0], p[1], p[2])) return 3;
    return 0;
}

// Byte length of the white space character at the end of `s`, or 0.
std::size_t trailing_space(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    if (n >= 1 && is_ascii_space(p[n - 1])) return 1;
    if (n >= 2 && is_two_byte_space(p[n - 2], p[n - 1])) return 2;
    if (n >= 3 && is_three_byte_space(p[n - 3], p[n - 2], p[n - 1])) return 3;
    return 0;
}

std::string_view strip_quotes(std::string_view value) {
    if (value.size() >= 2) {
        const char first = value.front();
        if ((first == '"' || first == '\'') && value.back() == first) return value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace

std::string_view trim_unicode_space(std::string_view text) {
    while (const std::size_t n = leading_space(text)) text.remove_prefix(n);
    while (const std::size_t n = trailing_space(text)) text.remove_suffix(n);
    return text;
}

std::optional<std::string> extract_key_value(std::string_view text, std::string_view key) {
    while (!text.empty()) {
        std::string_view line;
        if (const std::size_t feed = text.find('\n'); feed == std::string_view::npos) {
            line = text;
            text = {};
        } else {
            line = text.substr(0, feed);
            text.remove_prefix(feed + 1);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        }
        line = trim_unicode_space(line);
        if (!line.starts_with(key)) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        return std::string(strip_quotes(trim_unicode_space(line.substr(equals + 1))));
    }
    return std::nullopt;
}

}  // namespace vemrat::core
