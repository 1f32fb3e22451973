// The JSON reader: a single forward pass with an explicit stack of
// open containers (at most max_depth), writing value nodes to a contiguous tape
// and resolved string bytes to one buffer sized from the input (a string's
// resolved text is never longer than its source, so that buffer never moves).
//
// Every fault goes through `Fault` (a reason text and the error offset);
// make_error turns it into line and column in one place.
#include "service/json.hpp"

#include <bit>
#include <charconv>
#include <cstring>
#include <system_error>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vemrat::json {

std::string Error::text() const {
    std::string out;
    out.reserve(reason.size() + 40);
    out.append(reason);
    out.append(" at line ");
    out.append(std::to_string(line));
    out.append(" column ");
    out.append(std::to_string(column));
    return out;
}

Error make_error(std::string_view text, std::string_view reason, std::size_t offset) noexcept {
    if (offset > text.size()) offset = text.size();
    std::size_t line = 1;
    std::size_t line_start = 0;
    const char* const base = text.data();
    const char* at = base;
    const char* const stop = base + offset;
    while (at < stop) {
        const void* hit = std::memchr(at, '\n', static_cast<std::size_t>(stop - at));
        if (hit == nullptr) break;
        ++line;
        at = static_cast<const char*>(hit) + 1;
        line_start = static_cast<std::size_t>(at - base);
    }
    return Error{reason, offset, line, offset - line_start};
}

const Value* Value::find(std::string_view key) const noexcept {
    if (!is_object()) return nullptr;
    const Value* found = nullptr;
    const Value* const stop = next();
    for (const Value* k = this + 1; k != stop; k = k[1].next()) {
        if (k->as_string() == key) found = k + 1;
    }
    return found;
}

namespace {

struct Fault {
    std::string_view reason;
    std::size_t offset = 0;
};

// Records a fault and returns nullptr, the failure value of the scanners below.
[[gnu::cold, gnu::noinline]] const char* fault(Fault& f, std::string_view reason, std::size_t offset) {
    f.reason = reason;
    f.offset = offset;
    return nullptr;
}

inline std::size_t at(const char* p, const char* begin) { return static_cast<std::size_t>(p - begin); }

inline bool is_digit(char c) { return static_cast<unsigned char>(c) - unsigned{'0'} <= 9u; }

// Space, tab, line feed and carriage return; nothing else.
inline const char* skip_ws(const char* s, const char* end) {
    constexpr std::uint64_t mask = (1ull << ' ') | (1ull << '\t') | (1ull << '\n') | (1ull << '\r');
    while (s < end) {
        const unsigned c = static_cast<unsigned char>(*s);
        if (c > ' ' || ((mask >> c) & 1u) == 0) break;
        ++s;
    }
    return s;
}

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

// One escape; s points just after the backslash. Returns the position after the
// escape (and advances d past its resolved bytes), or nullptr with the fault.
[[gnu::noinline]] const char* parse_escape(const char* s, const char* begin, const char* end, char*& d, Fault& f) {
    if (s == end) return fault(f, reason::eof_string, at(end, begin));
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
        default: return fault(f, reason::invalid_escape, at(s, begin));  // the byte after the backslash
    }
    if (end - s < 4) return fault(f, reason::eof_string, at(end, begin));
    const int high = hex4(s);
    if (high < 0) return fault(f, reason::invalid_escape, at(s + 4, begin));  // the fourth byte after u
    s += 4;
    std::uint32_t cp = static_cast<std::uint32_t>(high);
    if (cp >= 0xDC00 && cp <= 0xDFFF) return fault(f, reason::lone_leading_surrogate, at(s, begin));
    if (cp >= 0xD800 && cp <= 0xDBFF) {
        if (s == end) return fault(f, reason::eof_string, at(end, begin));
        if (*s != '\\') return fault(f, reason::unexpected_end_of_hex_escape, at(s + 1, begin));
        ++s;
        if (s == end) return fault(f, reason::eof_string, at(end, begin));
        if (*s != 'u') return fault(f, reason::unexpected_end_of_hex_escape, at(s + 1, begin));
        ++s;
        if (end - s < 4) return fault(f, reason::eof_string, at(end, begin));
        const int low = hex4(s);
        if (low < 0) return fault(f, reason::invalid_escape, at(s + 4, begin));
        s += 4;
        if (low < 0xDC00 || low > 0xDFFF) return fault(f, reason::lone_leading_surrogate, at(s, begin));
        cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<std::uint32_t>(low) - 0xDC00);
    }
    d = put_utf8(d, cp);
    return s;
}

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
#else
        while (end - s >= 8) {
            std::uint64_t w;
            std::memcpy(&w, s, 8);
            std::memcpy(d, &w, 8);
            constexpr std::uint64_t ones = 0x0101010101010101ull;
            constexpr std::uint64_t highs = 0x8080808080808080ull;
            const std::uint64_t q = w ^ (ones * '"');
            const std::uint64_t b = w ^ (ones * '\\');
            const std::uint64_t m = (((q - ones) & ~q) | ((b - ones) & ~b) | ((w - ones * 0x20) & ~w)) & highs;
            if (m != 0) {
                const unsigned k = static_cast<unsigned>(__builtin_ctzll(m)) / 8;
                s += k;
                d += k;
                goto special;
            }
            s += 8;
            d += 8;
        }
#endif
        for (;;) {
            if (s == end) return fault(f, reason::eof_string, at(end, begin));
            const unsigned char c = static_cast<unsigned char>(*s);
            if (c == '"' || c == '\\' || c < 0x20) break;
            *d++ = static_cast<char>(c);
            ++s;
        }
    special:
        const unsigned char c = static_cast<unsigned char>(*s);
        if (c == '"') {
            out = d;
            return s + 1;
        }
        if (c != '\\') return fault(f, reason::control_character, at(s + 1, begin));
        s = parse_escape(s + 1, begin, end, d, f);
        if (s == nullptr) return nullptr;
    }
}

constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

struct NumberParts {
    const char* start;       // the literal, sign included
    const char* int_begin;   // integer digits
    const char* int_end;
    const char* frac_begin;  // fraction digits (empty range if none)
    const char* frac_end;
    std::int64_t exponent;   // explicit exponent, signed
    bool negative;
};

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

bool has_nonzero_digit(const char* s, const char* end) {
    for (; s < end; ++s) {
        if (*s >= '1' && *s <= '9') return true;
    }
    return false;
}

// The correctly rounded double of a literal, or nullptr with "number out of
// range" (point: the last byte of the number) where it rounds beyond the
// largest finite double. Underflow gives a zero of the literal's sign.
[[gnu::noinline]] const char* slow_double(const NumberParts& n, const char* s, const char* begin, double& value,
                                          Fault& f) {
    double result = 0.0;
    const std::from_chars_result r = std::from_chars(n.start, s, result, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        if (is_overflow(n)) return fault(f, reason::number_out_of_range, at(s, begin));
        result = n.negative ? -0.0 : 0.0;
    }
    value = result;
    return s;
}

// A number; s points at '-' or a digit. Writes the node and returns the
// position after the literal, or nullptr with the fault.
inline const char* parse_number(const char* s, const char* begin, const char* end, Fault& f, Kind& kind,
                                std::uint64_t& bits) {
    NumberParts n;
    n.start = s;
    n.negative = *s == '-';
    if (n.negative) {
        ++s;
        if (s == end) return fault(f, reason::eof_value, at(end, begin));
    }
    n.int_begin = s;
    unsigned c = static_cast<unsigned char>(*s) - unsigned{'0'};
    if (c > 9) return fault(f, reason::invalid_number, at(s + 1, begin));
    std::uint64_t sig = c;
    ++s;
    if (c == 0) {
        if (s < end && is_digit(*s)) return fault(f, reason::invalid_number, at(s + 1, begin));
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
        if (s == end) return fault(f, reason::eof_value, at(end, begin));
        c = static_cast<unsigned char>(*s) - unsigned{'0'};
        if (c > 9) return fault(f, reason::invalid_number, at(s + 1, begin));
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
        if (s == end) return fault(f, reason::eof_value, at(end, begin));
        c = static_cast<unsigned char>(*s) - unsigned{'0'};
        if (c > 9) return fault(f, reason::invalid_number, at(s + 1, begin));
        std::int32_t e = static_cast<std::int32_t>(c);
        ++s;
        while (s < end && (c = static_cast<unsigned char>(*s) - unsigned{'0'}) <= 9) {
            ++s;
            if (e > 214748364 || (e == 214748364 && c > 7)) [[unlikely]] {
                // Too long for a signed 32-bit value: infinite, or zero.
                if (!exp_negative && has_nonzero_digit(n.int_begin, mantissa_end)) {
                    return fault(f, reason::number_out_of_range, at(s, begin));
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

// The point of "expected ident" or the end of body for a literal that does not
// go on as `word`; p points at its first byte.
[[gnu::cold, gnu::noinline]] void literal_fault(const char* p, const char* begin, const char* end,
                                                std::string_view word, Fault& f) {
    for (std::size_t i = 1; i < word.size(); ++i) {
        if (p + i == end) {
            fault(f, reason::eof_value, at(end, begin));
            return;
        }
        if (p[i] != word[i]) {
            fault(f, reason::expected_ident, at(p + i + 1, begin));
            return;
        }
    }
}

}  // namespace

// Builds Documents; a friend of Value and Document.
class Parser {
public:
    static std::expected<Document, Error> parse(std::string_view text);

private:
    static void set(Value& node, Kind kind, std::uint64_t size, std::uint64_t payload) {
        node.header_ = static_cast<std::uint64_t>(kind) | (size << Value::kind_bits);
        node.payload_.u = payload;
    }
    static void set_string(Value& node, const char* first, std::size_t size) {
        node.header_ = static_cast<std::uint64_t>(Kind::String) | (std::uint64_t{size} << Value::kind_bits);
        node.payload_.s = first;
    }
    [[gnu::noinline]] static Value* grow(Document& doc, std::size_t& capacity, std::size_t used);
};

Value* Parser::grow(Document& doc, std::size_t& capacity, std::size_t used) {
    const std::size_t bigger = capacity * 2;
    std::unique_ptr<Value[]> tape(new Value[bigger]);  // trivial default-initialisation: not zeroed
    std::memcpy(static_cast<void*>(tape.get()), static_cast<const void*>(doc.tape_.get()), used * sizeof(Value));
    doc.tape_ = std::move(tape);
    capacity = bigger;
    return doc.tape_.get();
}

std::expected<Document, Error> Parser::parse(std::string_view text) {
    const char* const begin = text.data();
    const char* const end = begin + text.size();

    Document doc;
    std::size_t capacity = text.size() / 8 + 16;
    doc.tape_.reset(new Value[capacity]);
    doc.strings_ = std::make_unique_for_overwrite<char[]>(text.size() + 32);
    Value* tape = doc.tape_.get();
    std::size_t used = 0;
    char* out = doc.strings_.get();

    struct Frame {
        std::size_t index;  // the container's node
        std::size_t count;  // elements or members so far
        bool object;
    };
    Frame stack[max_depth];
    std::size_t depth = 0;

    Fault f;
    const char* p = begin;

#define VEMRAT_JSON_NODE(name)                                               \
    if (used == capacity) [[unlikely]] tape = grow(doc, capacity, used); \
    Value& name = tape[used++]

value:
    p = skip_ws(p, end);
    if (p == end) {
        fault(f, reason::eof_value, at(end, begin));
        goto failed;
    }
    switch (*p) {
        case '"': {
            VEMRAT_JSON_NODE(node);
            char* const first = out;
            p = parse_string(p + 1, begin, end, out, f);
            if (p == nullptr) goto failed;
            set_string(node, first, static_cast<std::size_t>(out - first));
            goto after_value;
        }
        case '{':
        case '[': {
            const bool object = *p == '{';
            if (depth == max_depth) {
                fault(f, reason::recursion_limit_exceeded, at(p + 1, begin));
                goto failed;
            }
            VEMRAT_JSON_NODE(node);
            set(node, object ? Kind::Object : Kind::Array, 0, 1);
            stack[depth++] = Frame{used - 1, 0, object};
            p = skip_ws(p + 1, end);
            if (p == end) {
                fault(f, object ? reason::eof_object : reason::eof_list, at(end, begin));
                goto failed;
            }
            if (*p == (object ? '}' : ']')) {
                ++p;
                --depth;
                goto after_value;  // the node already says: empty, span 1
            }
            if (object) {
                if (*p != '"') {
                    fault(f, reason::key_must_be_a_string, at(p + 1, begin));
                    goto failed;
                }
                goto key;
            }
            stack[depth - 1].count = 1;
            goto value;
        }
        case 't':
        case 'f':
        case 'n': {
            const std::string_view word = *p == 't' ? "true" : *p == 'f' ? "false" : "null";
            if (static_cast<std::size_t>(end - p) >= word.size() && std::memcmp(p, word.data(), word.size()) == 0) {
                VEMRAT_JSON_NODE(node);
                set(node, *p == 'n' ? Kind::Null : Kind::Bool, 0, *p == 't' ? 1 : 0);
                p += word.size();
                goto after_value;
            }
            literal_fault(p, begin, end, word, f);
            goto failed;
        }
        case '-':
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9': {
            VEMRAT_JSON_NODE(node);
            Kind kind = Kind::Null;
            std::uint64_t bits = 0;
            p = parse_number(p, begin, end, f, kind, bits);
            if (p == nullptr) goto failed;
            set(node, kind, 0, bits);
            goto after_value;
        }
        default:
            fault(f, reason::expected_value, at(p + 1, begin));
            goto failed;
    }

key:  // p at the opening quote of a member's key
    {
        ++stack[depth - 1].count;
        VEMRAT_JSON_NODE(node);
        char* const first = out;
        p = parse_string(p + 1, begin, end, out, f);
        if (p == nullptr) goto failed;
        set_string(node, first, static_cast<std::size_t>(out - first));
        p = skip_ws(p, end);
        if (p == end) {
            fault(f, reason::eof_object, at(end, begin));
            goto failed;
        }
        if (*p != ':') {
            fault(f, reason::expected_colon, at(p + 1, begin));
            goto failed;
        }
        ++p;
        goto value;
    }

after_value:
    while (depth != 0) {
        Frame& top = stack[depth - 1];
        p = skip_ws(p, end);
        const char close = top.object ? '}' : ']';
        if (p == end) {
            fault(f, top.object ? reason::eof_object : reason::eof_list, at(end, begin));
            goto failed;
        }
        if (*p == ',') {
            p = skip_ws(p + 1, end);
            if (p == end) {
                fault(f, reason::eof_value, at(end, begin));
                goto failed;
            }
            if (*p == close) {
                fault(f, reason::trailing_comma, at(p + 1, begin));
                goto failed;
            }
            if (!top.object) {
                ++top.count;
                goto value;
            }
            if (*p != '"') {
                fault(f, reason::key_must_be_a_string, at(p + 1, begin));
                goto failed;
            }
            goto key;
        }
        if (*p != close) {
            fault(f,
                  top.object ? reason::expected_object_comma_or_end : reason::expected_list_comma_or_end,
                  at(p + 1, begin));
            goto failed;
        }
        ++p;
        set(tape[top.index], top.object ? Kind::Object : Kind::Array, top.count, used - top.index);
        --depth;
    }

    p = skip_ws(p, end);
    if (p != end) {
        fault(f, reason::trailing_characters, at(p + 1, begin));
        goto failed;
    }
    doc.tape_size_ = used;
    doc.strings_size_ = static_cast<std::size_t>(out - doc.strings_.get());
    return doc;

failed:
    return std::unexpected(make_error(text, f.reason, f.offset));
#undef VEMRAT_JSON_NODE
}

std::expected<Document, Error> parse_json(std::string_view text) { return Parser::parse(text); }

}  // namespace vemrat::json
