// Interned str objects for names the module uses on every call, created once.
#pragma once

#include "python/error.hpp"

#include <Python.h>

namespace vemrat::py {

// Borrowed; kept for the life of the process.
inline PyObject* intern_or_panic(const char* text) {
    PyObject* name = PyUnicode_InternFromString(text);
    if (name == nullptr) panic(std::string("could not create the name ") + text);
    return name;
}

}  // namespace vemrat::py

// The interned str for a string literal, created on first use at this call site.
#define VEMRAT_NAME(text) ([]() -> PyObject* {                               \
    static PyObject* const interned = ::vemrat::py::intern_or_panic(text);   \
    return interned;                                                          \
}())
