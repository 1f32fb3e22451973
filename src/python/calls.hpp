// The interpreter operations the module performs most, as Results.
#pragma once

#include "python/error.hpp"

#include <Python.h>

namespace vemrat::py {

// Returns a new reference to the module, imported through the interpreter's import system.
inline Result<Ref> import_module(PyObject* name) {
    Ref module = Ref::steal(PyImport_Import(name));
    if (!module) return fail_with_pending();
    return module;
}

// Returns a new reference to the attribute.
inline Result<Ref> get_attribute(PyObject* object, PyObject* name) {
    Ref value = Ref::steal(PyObject_GetAttr(object, name));
    if (!value) return fail_with_pending();
    return value;
}

}  // namespace vemrat::py
