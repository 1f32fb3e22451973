// Request timestamps: whole seconds since 1970-01-01T00:00:00 UTC.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include <expected>

namespace vemrat::core {

// Whole seconds from the epoch to `now`, the fraction dropped (never rounded).
// A time before the epoch, by however little, is a failure with a message.
std::expected<std::uint64_t, std::string> unix_seconds(std::chrono::system_clock::time_point now);

// unix_seconds of the system's real-time clock.
std::expected<std::uint64_t, std::string> unix_timestamp();

}  // namespace vemrat::core
