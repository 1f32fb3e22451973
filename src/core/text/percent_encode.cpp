#include "core/text/percent_encode.hpp"

#include <array>

namespace vemrat::core {

namespace {

constexpr std::array<bool, 256> unreserved_table() {
    std::array<bool, 256> table{};
    for (int c = 'A'; c <= 'Z'; ++c) table[c] = true;
    for (int c = 'a'; c <= 'z'; ++c) table[c] = true;
    for (int c = '0'; c <= '9'; ++c) table[c] = true;
    table['-'] = table['.'] = table['_'] = table['~'] = true;
    return table;
}

constexpr std::array<bool, 256> unreserved = unreserved_table();
constexpr char upper_digits[] = "0123456789ABCDEF";

}  // namespace

void percent_encode_into(std::string& out, std::string_view text) {
    std::size_t length = 0;
    for (const unsigned char c : text) length += unreserved[c] ? 1 : 3;
    const std::size_t start = out.size();
    out.resize(start + length);
    char* p = out.data() + start;
    for (const unsigned char c : text) {
        if (unreserved[c]) {
            *p++ = static_cast<char>(c);
        } else {
            *p++ = '%';
            *p++ = upper_digits[c >> 4];
            *p++ = upper_digits[c & 0x0f];
        }
    }
}

std::string percent_encode(std::string_view text) {
    std::string out;
    percent_encode_into(out, text);
    return out;
}

}  // namespace vemrat::core
