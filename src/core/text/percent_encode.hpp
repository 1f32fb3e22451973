// Percent-encoding that keeps only A-Z a-z 0-9 - . _ ~ and writes every other
// byte as "%" and two upper-case hexadecimal digits.
#pragma once

#include <string>
#include <string_view>

namespace vemrat::core {

// Appends the encoding of `text` to `out`.
void percent_encode_into(std::string& out, std::string_view text);

std::string percent_encode(std::string_view text);

}  // namespace vemrat::core
