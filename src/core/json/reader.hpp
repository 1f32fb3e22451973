// The strict JSON reader behind service answers and callbacks: one pass over the text into a
// Document (value.hpp). Every fault has one reason from one table and one position.
#pragma once

#include "core/json/value.hpp"

#include <array>
#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

namespace vemrat::core::json {

// Why a text is not one JSON value. The texts are in reasons.cpp; each enumerator's comment shows
// an input that produces it, with ^ under the byte whose offset the position counts to (after the
// text where it ends too early).
enum class Reason : unsigned char {
    eof_value,                     // `[1,`        ^ after the text
    eof_list,                      // `[1`         ^ after the text
    eof_object,                    // `{"a":1`     ^ after the text
    eof_string,                    // `"ab`        ^ after the text
    expected_colon,                // `{"a" 1}`    ^ at `1`
    expected_list_comma_or_end,    // `[1 2]`      ^ at `2`
    expected_object_comma_or_end,  // `{"a":1 "b"` ^ at the second `"`
    expected_ident,                // `tru e`      ^ at the space
    expected_value,                // `+1`         ^ at `+`
    invalid_escape,                // `"\x"`       ^ at `x`
    invalid_number,                // `01`         ^ at `1`
    number_out_of_range,           // `1e400`      ^ at the last `0`
    control_character,             // a raw line feed inside a string, ^ at it
    key_must_be_a_string,          // `{1:2}`      ^ at `1`
    lone_leading_surrogate,        // `"\udc00"`   ^ at the last hex digit
    unexpected_end_of_hex_escape,  // `"\ud800x"`  ^ at `x`
    trailing_comma,                // `[1,]`       ^ at `]`
    trailing_characters,           // `{} x`       ^ at `x`
    recursion_limit_exceeded,      // 128 `[`      ^ at the 128th
};

inline constexpr std::size_t reason_count = static_cast<std::size_t>(Reason::recursion_limit_exceeded) + 1;

// The text of a reason, as the module's messages show it.
std::string_view reason_text(Reason reason) noexcept;

// Every reason, in the order of the enumeration: the table that tests and the fuzzer iterate.
constexpr std::array<Reason, reason_count> all_reasons() {
    std::array<Reason, reason_count> reasons{};
    for (std::size_t index = 0; index < reason_count; ++index) reasons[index] = static_cast<Reason>(index);
    return reasons;
}

// The failure of parse_json. `offset` counts the bytes up to and including the byte at fault,
// or is the text size where the text ends too early (0 <= offset <= size); `line` is 1 + the
// line feeds among those bytes and `column` the bytes after the last of them.
struct Error {
    Reason reason;
    std::size_t offset = 0;
    std::size_t line = 1;
    std::size_t column = 0;

    // "{reason} at line {line} column {column}"
    std::string text() const;
};

// At most this many arrays and objects may be open at once.
inline constexpr std::size_t max_depth = 127;

// Reads exactly one JSON value from the whole text: strict JSON, whitespace only space, tab,
// line feed and carriage return, repeated keys allowed (the last one wins in Value::find). The
// text need not outlive the result: every string is copied into the Document.
std::expected<Document, Error> parse_json(std::string_view text);

}  // namespace vemrat::core::json
