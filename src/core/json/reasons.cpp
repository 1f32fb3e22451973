#include "core/json/reader.hpp"

namespace vemrat::core::json {

namespace {

// Part of the module's interface, like core/texts.hpp: callers read these in messages.
constexpr std::array<std::string_view, reason_count> texts = {
    "EOF while parsing a value",
    "EOF while parsing a list",
    "EOF while parsing an object",
    "EOF while parsing a string",
    "expected `:`",
    "expected `,` or `]`",
    "expected `,` or `}`",
    "expected ident",
    "expected value",
    "invalid escape",
    "invalid number",
    "number out of range",
    "control character (\\u0000-\\u001F) found while parsing a string",
    "key must be a string",
    "lone leading surrogate in hex escape",
    "unexpected end of hex escape",
    "trailing comma",
    "trailing characters",
    "recursion limit exceeded",
};

}  // namespace

std::string_view reason_text(Reason reason) noexcept { return texts[static_cast<std::size_t>(reason)]; }

}  // namespace vemrat::core::json
