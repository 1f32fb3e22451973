// Conversions of Python values into module values, with the module's conversion errors.
#pragma once

#include "python/error.hpp"

#include <Python.h>

#include <string>
#include <string_view>

namespace vemrat::py {

// The __qualname__ of the object's type.
std::string type_name(PyObject* object);

// Deferred TypeError "'{type}' object cannot be converted to '{kind}'".
PythonError conversion_error(PyObject* object, std::string_view kind);

// The UTF-8 text of a str (or subclass), borrowed from the object: valid while it lives.
Result<std::string_view> text_view(PyObject* object);

// A float's value, or any object the interpreter converts to a float.
Result<double> float_value(PyObject* object);

// Names the parameter in a conversion error that is exactly TypeError:
// "argument '{name}': {message}", keeping the first error's __cause__. Other errors pass.
PythonError argument_error(std::string_view name, PythonError error);

template <class T>
Result<T> argument(std::string_view name, Result<T> converted) {
    if (converted) return converted;
    return std::unexpected(argument_error(name, std::move(converted.error())));
}

// A new str from UTF-8 text; an allocation failure is an internal failure.
Ref new_text(std::string_view text);

}  // namespace vemrat::py
