#include "core/auth/timestamp.hpp"

#include "core/texts.hpp"

namespace vemrat::core {

std::expected<std::uint64_t, std::string> unix_seconds(std::chrono::system_clock::time_point now) {
    const auto since_epoch = now.time_since_epoch();
    if (since_epoch < std::chrono::system_clock::duration::zero()) {
        return std::unexpected(std::string(texts::clock_before_epoch));
    }
    // Truncation towards zero, which for a non-negative duration is the floor.
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
    return static_cast<std::uint64_t>(seconds.count());
}

std::expected<std::uint64_t, std::string> unix_timestamp() {
    return unix_seconds(std::chrono::system_clock::now());
}

}  // namespace vemrat::core
