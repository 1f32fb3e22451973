// The merchant's two credentials, read from the key file.
#pragma once

#include "core/platform/read_file.hpp"
#include "core/secret.hpp"

#include <expected>
#include <string>

namespace vemrat::core {

// What a Client holds: fixed at construction, wiped when freed.
struct Keys {
    SecretText community_key;
    SecretText sponsor_key;
};

// Reads the file at `path` once and takes COMMUNITY_KEY and then SPONSOR_KEY from it. A failure
// is the message of the RuntimeError that the caller raises ("Cannot read auth_key.py at ...",
// or a key not found); no message ever contains a key, and the file's text is wiped on every path.
// `after_signal` is asked whether to go on after a signal interrupted the read (read_regular_file).
std::expected<Keys, std::string> load_keys(const std::string& path, const AfterSignal& after_signal = {});

}  // namespace vemrat::core
