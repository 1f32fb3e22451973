// Request nonces: 16 bytes from a cryptographically secure generator.
#pragma once

#include <cstddef>
#include <string>

#include "util/expected.hpp"

namespace vemrat {

inline constexpr std::size_t NONCE_BYTES = 16;

// 32 lower-case hexadecimal characters rendering 16 fresh random bytes in the
// order drawn. The bytes are read straight from the kernel's generator
// (getrandom), which costs a fraction of a trip through libcrypto's DRBG. A
// failing source is a failure with a message.
expected<std::string, std::string> generate_nonce();

}  // namespace vemrat
