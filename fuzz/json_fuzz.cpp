// libFuzzer target for the JSON reader and the response envelope.
//
// Checks, for every input: no crash or sanitizer report; on failure a reason
// from the table, an offset within the input, and line and column that follow
// from the offset; on success a consistent tape (the walk of the
// root covers the whole tape, counts match, string views lie in the Document's
// string buffer, depth at most 127, find() gives the last member of a key) and
// a round trip (the document written back as JSON parses to an equal tree).
//
// Build: cmake -DVEMRAT_PAY_FUZZ=ON -DVEMRAT_PAY_MODULE=OFF -DCMAKE_CXX_COMPILER=clang++-19
// Run:   ./json_fuzz -max_total_time=120 fuzz/corpus/json
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/json/reader.hpp"
#include "core/service/envelope.hpp"
#include "json_internals.hpp"

namespace {

using vemrat::core::json::DocumentInternals;
using vemrat::core::json::Kind;
using vemrat::core::json::Reason;
using vemrat::core::json::Value;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "json_fuzz: check failed: %s\n", what);
    std::abort();
}

#define FUZZ_ASSERT(condition) \
    do {                       \
        if (!(condition)) fail(#condition); \
    } while (false)

struct Walk {
    const vemrat::core::json::Document& doc;

    bool in_strings(std::string_view s) const {
        const char* lo = DocumentInternals::strings_begin(doc);
        const char* hi = lo + DocumentInternals::strings_size(doc);
        return s.data() >= lo && s.data() + s.size() <= hi;
    }

    // Checks the subtree at v; returns the node after it.
    const Value* check(const Value& v, std::size_t depth) const {
        const Value* const tape_begin = DocumentInternals::tape_begin(doc);
        const Value* const tape_end = tape_begin + DocumentInternals::tape_size(doc);
        FUZZ_ASSERT(&v >= tape_begin && &v < tape_end);
        switch (v.kind()) {
            case Kind::Null:
            case Kind::Bool:
            case Kind::Unsigned:
            case Kind::Signed:
                break;
            case Kind::Double:
                FUZZ_ASSERT(std::isfinite(v.as_double()));
                break;
            case Kind::String:
                FUZZ_ASSERT(in_strings(v.as_string()));
                break;
            case Kind::Array: {
                FUZZ_ASSERT(depth < vemrat::core::json::max_depth);
                std::size_t count = 0;
                const Value* at = &v + 1;
                for (const Value& element : v.elements()) {
                    FUZZ_ASSERT(&element == at);
                    at = check(element, depth + 1);
                    ++count;
                }
                FUZZ_ASSERT(count == v.size());
                FUZZ_ASSERT(at == v.next());
                break;
            }
            case Kind::Object: {
                FUZZ_ASSERT(depth < vemrat::core::json::max_depth);
                std::size_t count = 0;
                const Value* at = &v + 1;
                for (auto member : v.members()) {
                    FUZZ_ASSERT(at->kind() == Kind::String && at->as_string().data() == member.key.data());
                    FUZZ_ASSERT(in_strings(member.key));
                    FUZZ_ASSERT(&member.value == at + 1);
                    at = check(member.value, depth + 1);
                    ++count;
                }
                FUZZ_ASSERT(count == v.size());
                FUZZ_ASSERT(at == v.next());
                // Last-wins lookup, checked against a plain scan (bounded, to stay fast).
                if (count <= 64) {
                    for (auto member : v.members()) {
                        const Value* last = nullptr;
                        for (auto other : v.members()) {
                            if (other.key == member.key) last = &other.value;
                        }
                        FUZZ_ASSERT(v.find(member.key) == last);
                    }
                }
                break;
            }
            default:
                FUZZ_ASSERT(false);
        }
        FUZZ_ASSERT(v.next() <= tape_end);
        return v.next();
    }
};

void write_string(std::string& out, std::string_view s) {
    out += '"';
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

void write(std::string& out, const Value& v) {
    char buffer[64];
    switch (v.kind()) {
        case Kind::Null: out += "null"; break;
        case Kind::Bool: out += v.as_bool() ? "true" : "false"; break;
        case Kind::Unsigned: out += std::to_string(v.as_unsigned()); break;
        case Kind::Signed: out += std::to_string(v.as_signed()); break;
        case Kind::Double: {
            auto r = std::to_chars(buffer, buffer + sizeof buffer, v.as_double());
            std::string_view text(buffer, static_cast<std::size_t>(r.ptr - buffer));
            out += text;
            if (text.find_first_of(".e") == std::string_view::npos) out += ".0";
            break;
        }
        case Kind::String: write_string(out, v.as_string()); break;
        case Kind::Array: {
            out += '[';
            bool first = true;
            for (const Value& element : v.elements()) {
                if (!first) out += ',';
                first = false;
                write(out, element);
            }
            out += ']';
            break;
        }
        case Kind::Object: {
            out += '{';
            bool first = true;
            for (auto member : v.members()) {
                if (!first) out += ',';
                first = false;
                write_string(out, member.key);
                out += ':';
                write(out, member.value);
            }
            out += '}';
            break;
        }
    }
}

bool same(const Value& a, const Value& b) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case Kind::Null: return true;
        case Kind::Bool: return a.as_bool() == b.as_bool();
        case Kind::Unsigned: return a.as_unsigned() == b.as_unsigned();
        case Kind::Signed: return a.as_signed() == b.as_signed();
        case Kind::Double: return std::bit_cast<std::uint64_t>(a.as_double()) == std::bit_cast<std::uint64_t>(b.as_double());
        case Kind::String: return a.as_string() == b.as_string();
        case Kind::Array:
        case Kind::Object: {
            if (a.size() != b.size()) return false;
            if (a.kind() == Kind::Array) {
                auto bi = b.elements().begin();
                for (const Value& element : a.elements()) {
                    if (!same(element, *bi)) return false;
                    ++bi;
                }
            } else {
                auto bi = b.members().begin();
                for (auto member : a.members()) {
                    auto other = *bi;
                    if (member.key != other.key || !same(member.value, other.value)) return false;
                    ++bi;
                }
            }
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = vemrat::core::json::parse_json(text);
    if (!parsed) {
        const vemrat::core::json::Error& error = parsed.error();
        bool known = false;
        for (const Reason reason : vemrat::core::json::all_reasons()) known = known || reason == error.reason;
        FUZZ_ASSERT(known);
        FUZZ_ASSERT(error.offset <= size);
        std::size_t line = 1, start = 0;
        for (std::size_t i = 0; i < error.offset; ++i) {
            if (text[i] == '\n') {
                ++line;
                start = i + 1;
            }
        }
        FUZZ_ASSERT(error.line == line);
        FUZZ_ASSERT(error.column == error.offset - start);
        // Where the body ends too early, the offset is the body length; every other
        // fault names a byte, so its offset is at least 1.
        if (vemrat::core::json::reason_text(error.reason).starts_with("EOF")) {
            FUZZ_ASSERT(error.offset == size);
        } else {
            FUZZ_ASSERT(error.offset >= 1);
        }
        // The envelope's message carries the error text and the whole body.
        auto envelope = vemrat::core::decode_envelope(200, text);
        FUZZ_ASSERT(!envelope && envelope.error() == "Invalid JSON: " + error.text() + " | body: " + std::string(text));
        return 0;
    }

    const vemrat::core::json::Document& doc = *parsed;
    FUZZ_ASSERT(DocumentInternals::tape_size(doc) >= 1);
    FUZZ_ASSERT(DocumentInternals::strings_size(doc) <= size);
    const Walk walk{doc};
    FUZZ_ASSERT(walk.check(doc.root(), 0) == DocumentInternals::tape_begin(doc) + DocumentInternals::tape_size(doc));

    std::string again;
    write(again, doc.root());
    auto reparsed = vemrat::core::json::parse_json(again);
    FUZZ_ASSERT(reparsed.has_value());
    FUZZ_ASSERT(same(doc.root(), reparsed->root()));

    auto envelope = vemrat::core::decode_envelope(200, text);
    if (envelope) {
        FUZZ_ASSERT(envelope->data != nullptr);
        (void)vemrat::core::text_field(*envelope->data, "order_id");
        (void)vemrat::core::int_field(*envelope->data, "pay_status");
    }
    return 0;
}
