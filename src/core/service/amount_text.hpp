// Decimal text of an amount: the shortest digits that read back as the same
// double, in plain positional notation (no exponent, no "+", no point for
// whole values), "-" for every negative value including -0; "NaN", "inf" and
// "-inf" for the special values.
#pragma once

#include <string>

namespace vemrat::core {

// Appends the text of `amount` to `out`.
void amount_text_into(std::string& out, double amount);

std::string amount_text(double amount);

}  // namespace vemrat::core
