// The timestamp and nonce that every request carries. Either failing is a broken
// assumption of the machine (a clock before 1970, no random source): an internal failure.
#pragma once

#include "auth/nonce.hpp"
#include "auth/timestamp.hpp"
#include "python/error.hpp"

#include <string>

namespace vemrat::py {

struct Freshness {
    std::string timestamp;
    std::string nonce;
};

// Takes the timestamp first, then the nonce.
inline Freshness take_freshness() {
    auto seconds = unix_timestamp();
    if (!seconds) panic(seconds.error());
    auto nonce = generate_nonce();
    if (!nonce) panic(nonce.error());
    return Freshness{std::to_string(*seconds), std::move(*nonce)};
}

}  // namespace vemrat::py
