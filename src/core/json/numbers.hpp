// Number literals: their grammar, their kind (unsigned, signed or double) and their correctly
// rounded value. Internal to core/json.
#pragma once

#include "core/json/scanner.hpp"

#include <cstring>

namespace vemrat::core::json::detail {

inline constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10,
                                                 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

struct NumberParts {
    const char* start;       // the literal, sign included
    const char* int_begin;   // integer digits
    const char* int_end;
    const char* frac_begin;  // fraction digits (empty range if none)
    const char* frac_end;
    std::int64_t exponent;   // explicit exponent, signed
    bool negative;
};

// Whether any of the digits in [s, end) is not a zero.
bool has_nonzero_digit(const char* s, const char* end);

// The correctly rounded double of a literal, or nullptr with "number out of range" (point: the
// last byte of the number) where it rounds beyond the largest finite double. Underflow gives a
// zero of the literal's sign.
[[gnu::noinline]] const char* slow_double(const NumberParts& n, const char* s, const char* begin, double& value,
                                          Fault& f);

// A number; s points at '-' or a digit. Writes the node and returns the
// position after the literal, or nullptr with the fault.
inline const char* parse_number(const char* s, const char* begin, const char* end, Fault& f, Kind& kind,
                                std::uint64_t& bits) {
    NumberParts n;
    n.start = s;
    n.negative = *s == '-';
    if (n.negative) {
        ++s;
        if (s == end) return fault(f, Reason::eof_value, at(end, begin));
    }
    n.int_begin = s;
    unsigned c = static_cast<unsigned char>(*s) - unsigned{'0'};
    if (c > 9) return fault(f, Reason::invalid_number, at(s + 1, begin));
    std::uint64_t sig = c;
    ++s;
    if (c == 0) {
        if (s < end && is_digit(*s)) return fault(f, Reason::invalid_number, at(s + 1, begin));
    } else {
        // Wraps past 19 digits; the value is used only where it cannot have.
        while (s < end && (c = static_cast<unsigned char>(*s) - unsigned{'0'}) <= 9) {
            sig = sig * 10 + c;
            ++s;
        }
    }
    n.int_end = s;
    const std::size_t int_digits = static_cast<std::size_t>(s - n.int_begin);

    if (s == end || (*s != '.' && (*s | 0x20) != 'e')) [[likely]] {
        const bool fits = int_digits < 20 ||
                          (int_digits == 20 && std::memcmp(n.int_begin, "18446744073709551615", 20) <= 0);
        if (fits) [[likely]] {
            if (!n.negative) {
                kind = Kind::Unsigned;
                bits = sig;
            } else if (sig - 1 < (1ull << 63)) {  // 1 ..= 2^63
                kind = Kind::Signed;
                bits = 0 - sig;
            } else {
                kind = Kind::Double;
                const double d = -static_cast<double>(sig);  // -0 or below INT64_MIN, correctly rounded
                std::memcpy(&bits, &d, sizeof d);
            }
            return s;
        }
        n.frac_begin = n.frac_end = s;
        n.exponent = 0;
        double d;
        if (slow_double(n, s, begin, d, f) == nullptr) return nullptr;
        kind = Kind::Double;
        std::memcpy(&bits, &d, sizeof d);
        return s;
    }

    n.frac_begin = n.frac_end = s;
    if (*s == '.') {
        ++s;
        if (s == end) return fault(f, Reason::eof_value, at(end, begin));
        c = static_cast<unsigned char>(*s) - unsigned{'0'};
        if (c > 9) return fault(f, Reason::invalid_number, at(s + 1, begin));
        n.frac_begin = s;
        do {
            sig = sig * 10 + c;
            ++s;
        } while (s < end && (c = static_cast<unsigned char>(*s) - unsigned{'0'}) <= 9);
        n.frac_end = s;
    }
    const char* const mantissa_end = s;
    std::int64_t exponent = 0;
    if (s < end && (*s | 0x20) == 'e') {
        ++s;
        bool exp_negative = false;
        if (s < end && (*s == '+' || *s == '-')) {
            exp_negative = *s == '-';
            ++s;
        }
        if (s == end) return fault(f, Reason::eof_value, at(end, begin));
        c = static_cast<unsigned char>(*s) - unsigned{'0'};
        if (c > 9) return fault(f, Reason::invalid_number, at(s + 1, begin));
        std::int32_t e = static_cast<std::int32_t>(c);
        ++s;
        while (s < end && (c = static_cast<unsigned char>(*s) - unsigned{'0'}) <= 9) {
            ++s;
            if (e > 214748364 || (e == 214748364 && c > 7)) [[unlikely]] {
                // Too long for a signed 32-bit value: infinite, or zero.
                if (!exp_negative && has_nonzero_digit(n.int_begin, mantissa_end)) {
                    return fault(f, Reason::number_out_of_range, at(s, begin));
                }
                while (s < end && is_digit(*s)) ++s;
                const double zero = n.negative ? -0.0 : 0.0;
                kind = Kind::Double;
                std::memcpy(&bits, &zero, sizeof zero);
                return s;
            }
            e = e * 10 + static_cast<std::int32_t>(c);
        }
        exponent = exp_negative ? -std::int64_t{e} : std::int64_t{e};
    }
    n.exponent = exponent;

    double d;
    const std::size_t digits = int_digits + static_cast<std::size_t>(n.frac_end - n.frac_begin);
    const std::int64_t e10 = exponent - (n.frac_end - n.frac_begin);
    if (digits <= 19 && sig <= (1ull << 53) && e10 >= -22 && e10 <= 22) {
        // Both operands exact, one rounding: correctly rounded (Clinger).
        d = static_cast<double>(sig);
        d = e10 < 0 ? d / exact_powers_of_ten[-e10] : d * exact_powers_of_ten[e10];
        if (n.negative) d = -d;
    } else if (slow_double(n, s, begin, d, f) == nullptr) {
        return nullptr;
    }
    kind = Kind::Double;
    std::memcpy(&bits, &d, sizeof d);
    return s;
}

}  // namespace vemrat::core::json::detail
