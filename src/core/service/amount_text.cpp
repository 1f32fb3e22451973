#include "core/service/amount_text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace vemrat::core {

namespace {

// Shortest round-trip digits in scientific form: "-d.ddde-123" at most.
constexpr std::size_t max_scientific_length = 32;

}  // namespace

void amount_text_into(std::string& out, double amount) {
    if (std::isnan(amount)) {
        out += "NaN";
        return;
    }
    if (std::isinf(amount)) {
        out += amount < 0 ? "-inf" : "inf";
        return;
    }
    // Fixed format would print large integers with all their exact digits
    // (the exact value is as short in characters), so take the shortest
    // significant digits from the scientific form and lay them out here.
    char buffer[max_scientific_length];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, amount, std::chars_format::scientific);
    if (error != std::errc{}) std::abort();  // unreachable: every double fits

    const char* p = buffer;
    if (*p == '-') {
        out += '-';
        ++p;
    }
    const char* const e = std::find(p, static_cast<const char*>(end), 'e');
    char digits[20];
    std::size_t count = 0;
    for (const char* q = p; q < e; ++q) {
        if (*q != '.') digits[count++] = *q;
    }
    int exponent = 0;
    const char* exponent_start = e + 1;
    if (*exponent_start == '+') ++exponent_start;
    std::from_chars(exponent_start, static_cast<const char*>(end), exponent);

    // The value is digits[0].digits[1..] times ten to the exponent.
    const std::string_view all(digits, count);
    if (exponent >= static_cast<int>(count) - 1) {
        out += all;
        out.append(static_cast<std::size_t>(exponent) + 1 - count, '0');
    } else if (exponent >= 0) {
        const std::size_t whole = static_cast<std::size_t>(exponent) + 1;
        out += all.substr(0, whole);
        out += '.';
        out += all.substr(whole);
    } else {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += all;
    }
}

std::string amount_text(double amount) {
    std::string out;
    amount_text_into(out, amount);
    return out;
}

}  // namespace vemrat::core
