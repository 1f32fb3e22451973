// The operating system's cryptographically secure random source (Linux: getrandom).
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace vemrat::core {

// Fills `bytes` from the kernel's generator, blocking only until it is first seeded at boot. A
// failure of the source is its description.
std::expected<void, std::string> fill_random(std::span<std::uint8_t> bytes);

}  // namespace vemrat::core
