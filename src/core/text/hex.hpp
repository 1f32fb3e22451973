// Lower-case hexadecimal rendering of bytes: two characters per byte, high
// four bits first.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vemrat::core {

// Appends the rendering of `bytes` to `out`.
void hex_encode_into(std::string& out, std::span<const std::uint8_t> bytes);

std::string hex_encode(std::span<const std::uint8_t> bytes);
std::string hex_encode(std::string_view bytes);

}  // namespace vemrat::core
