// Properties of percent-encoding: the output holds only unreserved characters
// and "%" with two upper-case hexadecimal digits, every unreserved input byte
// is kept and every other one escaped, decoding gives the input back, and the
// append variant agrees with the plain one.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/text/percent_encode.hpp"

namespace {

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

int upper_hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string encoded = vemrat::core::percent_encode(input);

    std::string decoded;
    std::size_t escapes = 0;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '%') {
            if (i + 2 >= encoded.size()) __builtin_trap();
            const int high = upper_hex_value(encoded[i + 1]);
            const int low = upper_hex_value(encoded[i + 2]);
            if (high < 0 || low < 0) __builtin_trap();
            const auto byte = static_cast<unsigned char>(high * 16 + low);
            if (unreserved(byte)) __builtin_trap();  // an unreserved byte must not be escaped
            decoded += static_cast<char>(byte);
            ++escapes;
            i += 2;
        } else {
            if (!unreserved(static_cast<unsigned char>(c))) __builtin_trap();
            decoded += c;
        }
    }
    if (decoded != input) __builtin_trap();
    if (encoded.size() != input.size() + 2 * escapes) __builtin_trap();

    std::string appended = "x=";
    vemrat::core::percent_encode_into(appended, input);
    if (appended != "x=" + encoded) __builtin_trap();
    return 0;
}
