// The strict JSON reader behind service answers and callbacks: one pass over
// the text into a Document that owns a flat tape of value nodes and one buffer of
// resolved string bytes. Pure C++, no Python.
//
// Ownership: a Document owns everything it hands out. Every string_view that a
// Value returns points into the Document's own string buffer, never into the
// parsed text, so the text may be freed as soon as parse_json returns. Values
// live inside the Document's tape; `const Value&` and `const Value*` stay valid
// while the Document lives, also when the Document itself is moved (the tape is
// heap storage that a move hands over unchanged).
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace vemrat::json {

enum class Kind : std::uint8_t { Null, Bool, Unsigned, Signed, Double, String, Array, Object };

class Value;

// One member of an object: its resolved key and its value.
struct Member {
    std::string_view key;
    const Value& value;
};

// One node of a Document's tape. A container is followed by its elements (for
// an object: key node, value node, key node, ...), each taking the nodes of its
// own subtree. Values are only reachable by reference into their Document; they
// can be neither copied nor moved out of it.
class Value {
public:
    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;

    Kind kind() const noexcept { return static_cast<Kind>(header_ & kind_mask); }
    bool is_null() const noexcept { return kind() == Kind::Null; }
    bool is_object() const noexcept { return kind() == Kind::Object; }
    bool is_array() const noexcept { return kind() == Kind::Array; }
    bool is_string() const noexcept { return kind() == Kind::String; }

    // The accessors below require the matching kind (checked by assert only).
    bool as_bool() const noexcept {
        assert(kind() == Kind::Bool);
        return payload_.u != 0;
    }
    std::uint64_t as_unsigned() const noexcept {
        assert(kind() == Kind::Unsigned);
        return payload_.u;
    }
    std::int64_t as_signed() const noexcept {
        assert(kind() == Kind::Signed);
        return static_cast<std::int64_t>(payload_.u);
    }
    double as_double() const noexcept {
        assert(kind() == Kind::Double);
        return std::bit_cast<double>(payload_.u);
    }
    std::string_view as_string() const noexcept {
        assert(kind() == Kind::String);
        return {payload_.s, static_cast<std::size_t>(header_ >> kind_bits)};
    }

    // Arrays: the number of elements. Objects: the number of members as written,
    // repeated keys included. Every other kind: 0.
    std::size_t size() const noexcept {
        return is_container() ? static_cast<std::size_t>(header_ >> kind_bits) : 0;
    }

    // Object member lookup: exact byte-wise key match; where a key is repeated
    // the last member wins. nullptr when absent or when this is not an object.
    const Value* find(std::string_view key) const noexcept;

    // Iteration over the elements of an array (empty for other kinds).
    class ElementIterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Value;
        using difference_type = std::ptrdiff_t;
        using pointer = const Value*;
        using reference = const Value&;
        ElementIterator() = default;
        explicit ElementIterator(const Value* at) noexcept : at_(at) {}
        const Value& operator*() const noexcept { return *at_; }
        const Value* operator->() const noexcept { return at_; }
        ElementIterator& operator++() noexcept { at_ = at_->next(); return *this; }
        ElementIterator operator++(int) noexcept { ElementIterator old = *this; ++*this; return old; }
        bool operator==(const ElementIterator&) const = default;
    private:
        const Value* at_ = nullptr;
    };

    // Iteration over the members of an object in document order, every member
    // as written (a repeated key appears each time; find() applies last-wins).
    class MemberIterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Member;
        using difference_type = std::ptrdiff_t;
        MemberIterator() = default;
        explicit MemberIterator(const Value* key) noexcept : key_(key) {}
        Member operator*() const noexcept { return {key_->as_string(), key_[1]}; }
        MemberIterator& operator++() noexcept { key_ = key_[1].next(); return *this; }
        MemberIterator operator++(int) noexcept { MemberIterator old = *this; ++*this; return old; }
        bool operator==(const MemberIterator&) const = default;
    private:
        const Value* key_ = nullptr;
    };

    template <class Iterator>
    struct Range {
        Iterator first, last;
        Iterator begin() const noexcept { return first; }
        Iterator end() const noexcept { return last; }
    };

    Range<ElementIterator> elements() const noexcept {
        const Value* first = is_array() ? this + 1 : this;
        return {ElementIterator(first), ElementIterator(is_array() ? next() : this)};
    }
    Range<MemberIterator> members() const noexcept {
        const Value* first = is_object() ? this + 1 : this;
        return {MemberIterator(first), MemberIterator(is_object() ? next() : this)};
    }

    // The node just after this value's subtree (a container's payload is the
    // number of nodes in its subtree, itself included).
    const Value* next() const noexcept { return this + (is_container() ? payload_.u : 1); }

private:
    friend class Parser;
    // Only the parser makes nodes (and moves them when its tape grows); the
    // trivial move keeps Value trivially copyable.
    Value() = default;
    Value(Value&&) = default;
    Value& operator=(Value&&) = default;

    static constexpr unsigned kind_bits = 3;
    static constexpr std::uint64_t kind_mask = (1u << kind_bits) - 1;

    bool is_container() const noexcept { return (header_ & kind_mask) >= static_cast<std::uint64_t>(Kind::Array); }

    // Low 3 bits: Kind. Above: string length in bytes, or element/member count.
    std::uint64_t header_;
    union {
        std::uint64_t u;     // Bool (0 or 1), Unsigned; Signed and Double as their bits
        const char* s;       // String: first byte in the Document's string buffer
    } payload_;
};

static_assert(sizeof(Value) == 16 && std::is_trivially_copyable_v<Value>);

// A parsed JSON text. Movable, not copyable; owns the tape and the strings.
// A moved-from Document must not be used except to be destroyed or assigned.
class Document {
public:
    Document(Document&&) noexcept = default;
    Document& operator=(Document&&) noexcept = default;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;
    ~Document() = default;

    const Value& root() const noexcept { return tape_[0]; }

    // Tape and string storage, for invariant checks (tests, fuzzing).
    const Value* tape_begin() const noexcept { return tape_.get(); }
    std::size_t tape_size() const noexcept { return tape_size_; }
    const char* strings_begin() const noexcept { return strings_.get(); }
    std::size_t strings_size() const noexcept { return strings_size_; }

private:
    friend class Parser;
    Document() = default;

    std::unique_ptr<Value[]> tape_;
    std::size_t tape_size_ = 0;
    std::unique_ptr<char[]> strings_;
    std::size_t strings_size_ = 0;
};

// The failure of parse_json. `reason` is one of the texts in `reason` below
// (static storage). `offset` counts the bytes up to and including the byte at
// fault, or is the text size where the text ends too early (0 <= offset <= size);
// `line` is 1 + the line feeds among those bytes and `column` the bytes after
// the last of them.
struct Error {
    std::string_view reason;
    std::size_t offset = 0;
    std::size_t line = 1;
    std::size_t column = 0;

    // "{reason} at line {line} column {column}"
    std::string text() const;
};

// Every reason that parse_json reports.
namespace reason {
inline constexpr std::string_view eof_value = "EOF while parsing a value";
inline constexpr std::string_view eof_list = "EOF while parsing a list";
inline constexpr std::string_view eof_object = "EOF while parsing an object";
inline constexpr std::string_view eof_string = "EOF while parsing a string";
inline constexpr std::string_view expected_colon = "expected `:`";
inline constexpr std::string_view expected_list_comma_or_end = "expected `,` or `]`";
inline constexpr std::string_view expected_object_comma_or_end = "expected `,` or `}`";
inline constexpr std::string_view expected_ident = "expected ident";
inline constexpr std::string_view expected_value = "expected value";
inline constexpr std::string_view invalid_escape = "invalid escape";
inline constexpr std::string_view invalid_number = "invalid number";
inline constexpr std::string_view number_out_of_range = "number out of range";
inline constexpr std::string_view control_character =
    "control character (\\u0000-\\u001F) found while parsing a string";
inline constexpr std::string_view key_must_be_a_string = "key must be a string";
inline constexpr std::string_view lone_leading_surrogate = "lone leading surrogate in hex escape";
inline constexpr std::string_view unexpected_end_of_hex_escape = "unexpected end of hex escape";
inline constexpr std::string_view trailing_comma = "trailing comma";
inline constexpr std::string_view trailing_characters = "trailing characters";
inline constexpr std::string_view recursion_limit_exceeded = "recursion limit exceeded";
}  // namespace reason

// At most this many arrays and objects may be open at once.
inline constexpr std::size_t max_depth = 127;

// Reads exactly one JSON value from the whole text: strict JSON, whitespace only
// space, tab, line feed and carriage return, repeated keys allowed. The text need
// not outlive the result: every string is copied into the Document.
std::expected<Document, Error> parse_json(std::string_view text);

// The Error for a fault at `offset` of text, with its line and column.
Error make_error(std::string_view text, std::string_view reason, std::size_t offset) noexcept;

}  // namespace vemrat::json
