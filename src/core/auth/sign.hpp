// HMAC-SHA256 request signatures.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace vemrat::core {

// HMAC-SHA256 of `message` under `key` (both taken as raw bytes), as 64 lower-case hexadecimal
// characters. Every key and message is accepted; the only failure is libcrypto being unable to
// compute at all (out of memory, no usable provider), never a wrong or empty signature.
std::expected<std::string, std::string> sign(std::string_view key, std::string_view message);

// True only when `given` and `expected` have the same length and the same bytes. The byte
// comparison takes the same time wherever the first difference lies; a length mismatch returns
// at once (the expected length is public).
bool signature_matches(std::string_view given, std::string_view expected);

}  // namespace vemrat::core
