// The two credentials read from the key file.
#pragma once

#include "config/client.hpp"
#include "python/error.hpp"

#include <string>

namespace vemrat::py {

// Reads the file at `path` once and takes COMMUNITY_KEY and then SPONSOR_KEY from it.
// Failures are RuntimeErrors whose messages never contain a key; nothing is left pending.
Result<ClientFields> load_keys_from_file(const std::string& path);

}  // namespace vemrat::py
