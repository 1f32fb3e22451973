// String bodies and their escapes: the reader's hottest loop. Internal to core/json.
#pragma once

#include "core/json/scanner.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vemrat::core::json::detail {

// One escape; s points just after the backslash. Returns the position after the escape (and
// advances d past its resolved bytes), or nullptr with the fault.
[[gnu::noinline]] const char* parse_escape(const char* s, const char* begin, const char* end, char*& d, Fault& f);

// A string body; s points just after the opening quote. Resolved bytes go to d
// (the buffer has room for 16 bytes past any position it can reach). Returns
// the position after the closing quote, or nullptr with the fault.
inline const char* parse_string(const char* s, const char* begin, const char* end, char*& out, Fault& f) {
    char* d = out;
    for (;;) {
#if defined(__SSE2__)
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i backslash = _mm_set1_epi8('\\');
        const __m128i control = _mm_set1_epi8(0x1F);
        while (end - s >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
            const __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                                                 _mm_cmpeq_epi8(_mm_min_epu8(v, control), v));
            const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
            if (mask != 0) {
                const unsigned k = static_cast<unsigned>(__builtin_ctz(mask));
                s += k;
                d += k;
                goto special;
            }
            s += 16;
            d += 16;
        }
#endif
        for (;;) {
            if (s == end) return fault(f, Reason::eof_string, at(end, begin));
            const unsigned char c = static_cast<unsigned char>(*s);
            if (c == '"' || c == '\\' || c < 0x20) break;
            *d++ = static_cast<char>(c);
            ++s;
        }
#if defined(__SSE2__)
    special:
#endif
        const unsigned char c = static_cast<unsigned char>(*s);
        if (c == '"') {
            out = d;
            return s + 1;
        }
        if (c != '\\') return fault(f, Reason::control_character, at(s + 1, begin));
        s = parse_escape(s + 1, begin, end, d, f);
        if (s == nullptr) return nullptr;
    }
}

}  // namespace vemrat::core::json::detail
