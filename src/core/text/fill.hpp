// Filling a message template: each "{}" in turn takes the next value.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace vemrat::core {

// `pattern` with its "{}" placeholders replaced, in order, by `values`. Only the pattern is
// scanned, so a value may itself contain "{}". Placeholders beyond the values stay as written.
std::string fill(std::string_view pattern, std::initializer_list<std::string_view> values);

}  // namespace vemrat::core
