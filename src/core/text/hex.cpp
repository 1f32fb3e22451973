#include "core/text/hex.hpp"

namespace vemrat::core {

namespace {
constexpr char lower_digits[] = "0123456789abcdef";

void write_hex(char* out, const std::uint8_t* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        out[2 * i] = lower_digits[bytes[i] >> 4];
        out[2 * i + 1] = lower_digits[bytes[i] & 0x0f];
    }
}
}  // namespace

void hex_encode_into(std::string& out, std::span<const std::uint8_t> bytes) {
    const std::size_t start = out.size();
    out.resize(start + 2 * bytes.size());
    write_hex(out.data() + start, bytes.data(), bytes.size());
}

std::string hex_encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    hex_encode_into(out, bytes);
    return out;
}

std::string hex_encode(std::string_view bytes) {
    return hex_encode(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace vemrat::core
