// The timestamp and nonce that every request carries.
#pragma once

#include <expected>
#include <string>

namespace vemrat::core {

struct Freshness {
    std::string timestamp;  // whole seconds since 1970, in decimal
    std::string nonce;      // 32 lower-case hexadecimal characters
};

// Takes the timestamp first, then the nonce. Either failing is a broken assumption of the machine
// (a clock before 1970, no random source); the failure is its description.
std::expected<Freshness, std::string> take_freshness();

}  // namespace vemrat::core
