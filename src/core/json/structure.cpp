// The structure of a JSON text: values, arrays, objects and literals, read in a single forward
// pass with an explicit stack of open containers (at most max_depth). Value nodes go to a
// contiguous tape and resolved string bytes to one buffer sized from the input (a string's
// resolved text is never longer than its source, so that buffer never moves). Strings and
// numbers are read by strings.hpp and numbers.hpp.
//
// Every fault goes through detail::fault (a reason and the error offset); error_at turns it into
// line and column in one place.
#include "core/json/numbers.hpp"
#include "core/json/reader.hpp"
#include "core/json/strings.hpp"
#include "core/text/fill.hpp"
#include "core/texts.hpp"

#include <cstring>

namespace vemrat::core::json {

using namespace detail;

std::string Error::text() const {
    return fill(texts::json_error, {reason_text(reason), std::to_string(line), std::to_string(column)});
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

// The Error of a fault at `offset` of text, with its line and column.
Error error_at(std::string_view text, Reason reason, std::size_t offset) noexcept {
    if (offset > text.size()) offset = text.size();
    std::size_t line = 1;
    std::size_t line_start = 0;
    const char* const base = text.data();
    const char* cursor = base;
    const char* const stop = base + offset;
    while (cursor < stop) {
        const void* hit = std::memchr(cursor, '\n', static_cast<std::size_t>(stop - cursor));
        if (hit == nullptr) break;
        ++line;
        cursor = static_cast<const char*>(hit) + 1;
        line_start = static_cast<std::size_t>(cursor - base);
    }
    return Error{reason, offset, line, offset - line_start};
}

// The point of "expected ident" or the end of body for a literal that does not
// go on as `word`; p points at its first byte.
[[gnu::cold, gnu::noinline]] void literal_fault(const char* p, const char* begin, const char* end,
                                                std::string_view word, Fault& f) {
    for (std::size_t i = 1; i < word.size(); ++i) {
        if (p + i == end) {
            fault(f, Reason::eof_value, at(end, begin));
            return;
        }
        if (p[i] != word[i]) {
            fault(f, Reason::expected_ident, at(p + i + 1, begin));
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
        fault(f, Reason::eof_value, at(end, begin));
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
                fault(f, Reason::recursion_limit_exceeded, at(p + 1, begin));
                goto failed;
            }
            VEMRAT_JSON_NODE(node);
            set(node, object ? Kind::Object : Kind::Array, 0, 1);
            stack[depth++] = Frame{used - 1, 0, object};
            p = skip_ws(p + 1, end);
            if (p == end) {
                fault(f, object ? Reason::eof_object : Reason::eof_list, at(end, begin));
                goto failed;
            }
            if (*p == (object ? '}' : ']')) {
                ++p;
                --depth;
                goto after_value;  // the node already says: empty, span 1
            }
            if (object) {
                if (*p != '"') {
                    fault(f, Reason::key_must_be_a_string, at(p + 1, begin));
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
            fault(f, Reason::expected_value, at(p + 1, begin));
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
            fault(f, Reason::eof_object, at(end, begin));
            goto failed;
        }
        if (*p != ':') {
            fault(f, Reason::expected_colon, at(p + 1, begin));
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
            fault(f, top.object ? Reason::eof_object : Reason::eof_list, at(end, begin));
            goto failed;
        }
        if (*p == ',') {
            p = skip_ws(p + 1, end);
            if (p == end) {
                fault(f, Reason::eof_value, at(end, begin));
                goto failed;
            }
            if (*p == close) {
                fault(f, Reason::trailing_comma, at(p + 1, begin));
                goto failed;
            }
            if (!top.object) {
                ++top.count;
                goto value;
            }
            if (*p != '"') {
                fault(f, Reason::key_must_be_a_string, at(p + 1, begin));
                goto failed;
            }
            goto key;
        }
        if (*p != close) {
            fault(f,
                  top.object ? Reason::expected_object_comma_or_end : Reason::expected_list_comma_or_end,
                  at(p + 1, begin));
            goto failed;
        }
        ++p;
        set(tape[top.index], top.object ? Kind::Object : Kind::Array, top.count, used - top.index);
        --depth;
    }

    p = skip_ws(p, end);
    if (p != end) {
        fault(f, Reason::trailing_characters, at(p + 1, begin));
        goto failed;
    }
    doc.tape_size_ = used;
    doc.strings_size_ = static_cast<std::size_t>(out - doc.strings_.get());
    return doc;

failed:
    return std::unexpected(error_at(text, f.reason, f.offset));
#undef VEMRAT_JSON_NODE
}

std::expected<Document, Error> parse_json(std::string_view text) { return Parser::parse(text); }

}  // namespace vemrat::core::json
