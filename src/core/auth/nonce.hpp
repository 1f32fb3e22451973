// Request nonces: 16 bytes from a cryptographically secure generator.
#pragma once

#include <cstddef>
#include <string>

#include <expected>

namespace vemrat::core {

inline constexpr std::size_t NONCE_BYTES = 16;

// 32 lower-case hexadecimal characters rendering 16 fresh random bytes in the
// order drawn. The bytes come from the kernel's generator (getrandom), drawn
// ahead in per-thread blocks that a fork invalidates. A failing source is a
// failure with a message.
std::expected<std::string, std::string> generate_nonce();

}  // namespace vemrat::core
