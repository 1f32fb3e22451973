// What the JSON reader (reader.hpp) produces: a Document that owns a flat tape of value nodes
// and one buffer of resolved string bytes.
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
#include <iterator>
#include <memory>
#include <string_view>
#include <type_traits>

namespace vemrat::core::json {

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

private:
    friend class Parser;
    // Test support (tests/support/json_internals.hpp) reads the tape and the string storage for
    // invariant checks; nothing in the module does.
    friend struct DocumentInternals;
    Document() = default;

    std::unique_ptr<Value[]> tape_;
    std::size_t tape_size_ = 0;
    std::unique_ptr<char[]> strings_;
    std::size_t strings_size_ = 0;
};

}  // namespace vemrat::core::json
