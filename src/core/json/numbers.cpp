#include "core/json/numbers.hpp"

#include <charconv>
#include <system_error>

namespace vemrat::core::json::detail {

namespace {

// Whether a literal that std::from_chars reports out of range is too large
// (true) rather than too small: the decimal magnitude of its first non-zero
// digit decides, being beyond +300 or below -300 in either case.
bool is_overflow(const NumberParts& n) {
    std::int64_t magnitude = n.exponent;
    const char* first = n.int_begin;
    while (first < n.int_end && *first == '0') ++first;
    if (first < n.int_end) return magnitude + (n.int_end - first) > 0;
    const char* frac = n.frac_begin;
    while (frac < n.frac_end && *frac == '0') ++frac;
    return magnitude - (frac - n.frac_begin) > 0;
}

}  // namespace

bool has_nonzero_digit(const char* s, const char* end) {
    for (; s < end; ++s) {
        if (*s >= '1' && *s <= '9') return true;
    }
    return false;
}

const char* slow_double(const NumberParts& n, const char* s, const char* begin, double& value, Fault& f) {
    double result = 0.0;
    const std::from_chars_result r = std::from_chars(n.start, s, result, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        if (is_overflow(n)) return fault(f, Reason::number_out_of_range, at(s, begin));
        result = n.negative ? -0.0 : 0.0;
    }
    value = result;
    return s;
}

}  // namespace vemrat::core::json::detail
