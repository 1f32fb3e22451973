// The envelope of the service's answers: the status check, the JSON parse, the service's
// "detail", the "data" member, and the two rules by which result attributes are read.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "core/json/value.hpp"

namespace vemrat::core {

// A decoded answer: the parsed document and its top-level "data" value.
// `data` points into `document`'s tape, which is heap storage that a move of the
// Envelope (or of the Document) hands over unchanged, so `data` stays valid for
// as long as the document it came with lives.
struct Envelope {
    json::Document document;
    const json::Value* data;
};

// Checks status, JSON, "detail" and "data", in that order. On failure, the
// exact message of the RuntimeError that the calling operation raises:
// "HTTP {}: {}", "Invalid JSON: {} | body: {}", the string "detail" itself, or
// "Missing 'data' in response: {}". The body need not outlive the result.
std::expected<Envelope, std::string> decode_envelope(std::uint16_t status, std::string_view body);

// The text of member `key` of `data` if it is a string, else "".
// The view points into data's Document; copy it before the Document goes.
std::string_view text_field(const json::Value& data, std::string_view key) noexcept;

// The low 32 bits (two's complement) of member `key` of `data` if
// it is an integer in the signed 64-bit range, else 0.
std::int32_t int_field(const json::Value& data, std::string_view key) noexcept;

}  // namespace vemrat::core
