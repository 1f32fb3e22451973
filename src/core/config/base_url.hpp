// The service base URL: VEMRAT_PAY_BASE_URL from the process environment, or
// the default origin.
#pragma once

#include <string>
#include <string_view>

namespace vemrat::core {

inline constexpr std::string_view DEFAULT_BASE_URL = "https://api.vemrat.com";
inline constexpr const char* BASE_URL_VARIABLE = "VEMRAT_PAY_BASE_URL";

// Read afresh on every call: the variable's value exactly as set (the empty
// text included, nothing trimmed or checked), or DEFAULT_BASE_URL when the
// variable is unset or its value is not valid UTF-8.
std::string base_url();

}  // namespace vemrat::core
