// Properties of the amount text for the double made of the 8 input bytes: the
// text reads back to the same double (sign of zero included), is plain
// positional notation, and no digit string one digit shorter reads back to it.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/service/amount_text.hpp"

namespace {

bool reads_back_to(const std::string& text, double expected) {
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc{} && result.ptr == text.data() + text.size() && value == expected &&
           std::signbit(value) == std::signbit(expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size != sizeof(double)) return 0;
    double amount;
    std::memcpy(&amount, data, sizeof amount);
    const std::string text = vemrat::core::amount_text(amount);

    std::string appended = "amount=";
    vemrat::core::amount_text_into(appended, amount);
    if (appended != "amount=" + text) __builtin_trap();

    if (std::isnan(amount)) {
        if (text != "NaN") __builtin_trap();
        return 0;
    }
    if (std::isinf(amount)) {
        if (text != (amount > 0 ? "inf" : "-inf")) __builtin_trap();
        return 0;
    }

    // Layout: optional "-", integer digits without a superfluous leading zero,
    // and a fractional part only if it ends in a non-zero digit.
    std::size_t i = 0;
    if ((text[0] == '-') != std::signbit(amount)) __builtin_trap();
    if (text[0] == '-') ++i;
    const std::size_t integer_start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    const std::string integer = text.substr(integer_start, i - integer_start);
    if (integer.empty() || (integer.size() > 1 && integer[0] == '0')) __builtin_trap();
    std::string fraction;
    if (i < text.size()) {
        if (text[i] != '.') __builtin_trap();
        fraction = text.substr(i + 1);
        if (fraction.empty() || fraction.back() == '0') __builtin_trap();
        for (const char c : fraction) {
            if (c < '0' || c > '9') __builtin_trap();
        }
    }
    if (!reads_back_to(text, amount)) __builtin_trap();
    if (amount == 0) {
        if (integer != "0" || !fraction.empty()) __builtin_trap();
        return 0;
    }

    // Significant digits D and exponent E with |amount| ~ 0.D times ten to E.
    std::string digits;
    int exponent;
    if (integer != "0") {
        digits = integer + fraction;
        exponent = static_cast<int>(integer.size());
    } else {
        const std::size_t first = fraction.find_first_not_of('0');
        digits = fraction.substr(first);
        exponent = -static_cast<int>(first);
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    if (digits.size() > 17) __builtin_trap();
    if (digits.size() == 1) return 0;

    // If any shorter digit string read back to the amount, one of the two
    // grid points next to D at one digit less would too.
    const double magnitude = std::fabs(amount);
    std::string truncated = digits.substr(0, digits.size() - 1);
    if (reads_back_to("0." + truncated + "e" + std::to_string(exponent), magnitude)) __builtin_trap();
    std::string next = truncated;
    std::size_t at = next.size();
    while (at > 0 && next[at - 1] == '9') next[--at] = '0';
    int next_exponent = exponent;
    if (at == 0) {
        next = "1";
        ++next_exponent;
    } else {
        ++next[at - 1];
    }
    if (reads_back_to("0." + next + "e" + std::to_string(next_exponent), magnitude)) __builtin_trap();
    return 0;
}
