// UTF-8 validation and decoding with replacement.
#pragma once

#include <string>
#include <string_view>

namespace vemrat::core {

// Strict UTF-8: no overlong forms, no surrogates (U+D800..U+DFFF), nothing
// above U+10FFFF, no truncated sequences.
bool is_valid_utf8(std::string_view bytes);

// Valid text is copied byte for byte; every maximal ill-formed subpart (the
// longest prefix of a well-formed sequence that is not completed, or a single
// byte that starts none) becomes one U+FFFD.
std::string decode_utf8_lossy(std::string_view bytes);

}  // namespace vemrat::core
