// Binding of call arguments to positional-or-keyword parameters, with the interpreter's
// own wording for every mismatch.
#pragma once

#include "python/error.hpp"

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace vemrat::py {

struct Parameters {
    std::string_view class_name;
    std::string_view function_name;
    std::span<const std::string_view> names;
    std::size_t required;  // the leading parameters without a default
};

// The bound arguments, borrowed from the call; null where a parameter was not given.
template <std::size_t N>
using Arguments = std::array<PyObject*, N>;

// Vectorcall convention (METH_FASTCALL | METH_KEYWORDS).
Result<void> bind_arguments(const Parameters& parameters, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, std::span<PyObject*> out);
// tp_new convention: a tuple and an optional dict.
Result<void> bind_arguments(const Parameters& parameters, PyObject* args, PyObject* kwargs,
                            std::span<PyObject*> out);

}  // namespace vemrat::py
