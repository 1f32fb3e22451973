#include "core/json/strings.hpp"

#include <cstdint>

namespace vemrat::core::json::detail {

namespace {

constexpr signed char hex_value(unsigned c) {
    return c >= '0' && c <= '9'   ? static_cast<signed char>(c - '0')
           : c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10)
           : c >= 'A' && c <= 'F' ? static_cast<signed char>(c - 'A' + 10)
                                  : -1;
}

struct HexTable {
    signed char v[256];
    constexpr HexTable() : v{} {
        for (unsigned c = 0; c < 256; ++c) v[c] = hex_value(c);
    }
};
constexpr HexTable hex_table;

// The four hexadecimal digits at s, or a negative value if one is not a digit.
inline int hex4(const char* s) {
    const int a = hex_table.v[static_cast<unsigned char>(s[0])];
    const int b = hex_table.v[static_cast<unsigned char>(s[1])];
    const int c = hex_table.v[static_cast<unsigned char>(s[2])];
    const int d = hex_table.v[static_cast<unsigned char>(s[3])];
    if ((a | b | c | d) < 0) return -1;
    return (a << 12) | (b << 8) | (c << 4) | d;
}

inline char* put_utf8(char* d, std::uint32_t cp) {
    if (cp < 0x80) {
        *d++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *d++ = static_cast<char>(0xC0 | (cp >> 6));
        *d++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *d++ = static_cast<char>(0xE0 | (cp >> 12));
        *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *d++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *d++ = static_cast<char>(0xF0 | (cp >> 18));
        *d++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *d++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return d;
}

}  // namespace

const char* parse_escape(const char* s, const char* begin, const char* end, char*& d, Fault& f) {
    if (s == end) return fault(f, Reason::eof_string, at(end, begin));
    const char c = *s++;
    switch (c) {
        case '"': *d++ = '"'; return s;
        case '\\': *d++ = '\\'; return s;
        case '/': *d++ = '/'; return s;
        case 'b': *d++ = '\b'; return s;
        case 'f': *d++ = '\f'; return s;
        case 'n': *d++ = '\n'; return s;
        case 'r': *d++ = '\r'; return s;
        case 't': *d++ = '\t'; return s;
        case 'u': break;
        default: return fault(f, Reason::invalid_escape, at(s, begin));  // the byte after the backslash
    }
    if (end - s < 4) return fault(f, Reason::eof_string, at(end, begin));
    const int high = hex4(s);
    if (high < 0) return fault(f, Reason::invalid_escape, at(s + 4, begin));  // the fourth byte after u
    s += 4;
    std::uint32_t cp = static_cast<std::uint32_t>(high);
    if (cp >= 0xDC00 && cp <= 0xDFFF) return fault(f, Reason::lone_leading_surrogate, at(s, begin));
    if (cp >= 0xD800 && cp <= 0xDBFF) {
        if (s == end) return fault(f, Reason::eof_string, at(end, begin));
        if (*s != '\\') return fault(f, Reason::unexpected_end_of_hex_escape, at(s + 1, begin));
        ++s;
        if (s == end) return fault(f, Reason::eof_string, at(end, begin));
        if (*s != 'u') return fault(f, Reason::unexpected_end_of_hex_escape, at(s + 1, begin));
        ++s;
        if (end - s < 4) return fault(f, Reason::eof_string, at(end, begin));
        const int low = hex4(s);
        if (low < 0) return fault(f, Reason::invalid_escape, at(s + 4, begin));
        s += 4;
        if (low < 0xDC00 || low > 0xDFFF) return fault(f, Reason::lone_leading_surrogate, at(s, begin));
        cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<std::uint32_t>(low) - 0xDC00);
    }
    d = put_utf8(d, cp);
    return s;
}

}  // namespace vemrat::core::json::detail
