// Test support: the storage of a parsed Document, for invariant checks by the native tests and
// the fuzzer. The module itself never looks at it.
#pragma once

#include "core/json/value.hpp"

#include <cstddef>

namespace vemrat::core::json {

struct DocumentInternals {
    static const Value* tape_begin(const Document& document) { return document.tape_.get(); }
    static std::size_t tape_size(const Document& document) { return document.tape_size_; }
    static const char* strings_begin(const Document& document) { return document.strings_.get(); }
    static std::size_t strings_size(const Document& document) { return document.strings_size_; }
};

}  // namespace vemrat::core::json
