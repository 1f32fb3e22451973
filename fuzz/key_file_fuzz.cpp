// Compares extract_key_value with a second, deliberately plain implementation
// that decodes the text to code points, copies each line out, and trims with a
// set of white space code points. The first input byte picks the key name;
// inputs that are not valid UTF-8 are outside the contract and only run for
// memory safety.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/key_file.hpp"

namespace {

// Decodes strict UTF-8; nullopt for anything ill-formed.
std::optional<std::u32string> decode(std::string_view s) {
    std::u32string out;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = b < 0x80 ? 1 : (b & 0xe0) == 0xc0 ? 2 : (b & 0xf0) == 0xe0 ? 3 : (b & 0xf8) == 0xf0 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return std::nullopt;
        char32_t c = n == 1 ? b : n == 2 ? (b & 0x1f) : n == 3 ? (b & 0x0f) : (b & 0x07);
        for (std::size_t k = 1; k < n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xc0) != 0x80) return std::nullopt;
            c = (c << 6) | (t & 0x3f);
        }
        const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < smallest[n] || (c >= 0xd800 && c <= 0xdfff) || c > 0x10ffff) return std::nullopt;
        out += c;
        i += n;
    }
    return out;
}

std::string encode(const std::u32string& s) {
    std::string out;
    for (const char32_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xc0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xe0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return out;
}

bool is_white_space(char32_t c) {
    static const std::u32string spaces =
        U"\u0009\u000a\u000b\u000c\u000d\u0020\u0085\u00a0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006"
        U"\u2007\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000";
    return spaces.find(c) != std::u32string::npos;
}

std::u32string trim(std::u32string s) {
    while (!s.empty() && is_white_space(s.back())) s.pop_back();
    std::size_t start = 0;
    while (start < s.size() && is_white_space(s[start])) ++start;
    return s.substr(start);
}

std::optional<std::string> reference_extract(const std::u32string& text, const std::u32string& key) {
    std::vector<std::u32string> lines;
    std::u32string current;
    for (const char32_t c : text) {
        if (c == U'\n') {
            if (!current.empty() && current.back() == U'\r') current.pop_back();
            lines.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) lines.push_back(current);

    for (const std::u32string& raw_line : lines) {
        const std::u32string line = trim(raw_line);
        if (line.compare(0, key.size(), key) != 0 || line.size() < key.size()) continue;
        const std::size_t equals = line.find(U'=');
        if (equals == std::u32string::npos) continue;
        std::u32string value = trim(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == U'"' && value.back() == U'"') {
            value = value.substr(1, value.size() - 2);
        } else if (value.size() >= 2 && value.front() == U'\'' && value.back() == U'\'') {
            value = value.substr(1, value.size() - 2);
        }
        return encode(value);
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const std::string_view keys[] = {"COMMUNITY_KEY", "SPONSOR_KEY", "K", "", "K\u00e9", "\u3000K"};
    const std::string_view key = keys[data[0] % (sizeof keys / sizeof keys[0])];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::optional<std::string> found = vemrat::core::extract_key_value(text, key);
    const std::optional<std::u32string> decoded = decode(text);
    if (!decoded) return 0;
    if (found != reference_extract(*decoded, *decode(key))) __builtin_trap();
    // The scanner only ever returns a piece of one line.
    if (found && found->find('\n') != std::string::npos) __builtin_trap();
    return 0;
}
