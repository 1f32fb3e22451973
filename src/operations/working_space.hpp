// The directory in which the application keeps auth_key.py.
#pragma once

#include "python/error.hpp"

#include <string>

namespace vemrat::py {

// Django's settings.WORKING_SPACE when it is a str; otherwise the interpreter's directory
// if the environment variable IS_LAN is exactly "true", else the current directory.
// Returns UTF-8 text; on failure returns the error and nothing is left pending.
Result<std::string> find_working_space();

}  // namespace vemrat::py
