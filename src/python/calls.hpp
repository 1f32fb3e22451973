// The interpreter operations the module performs most, as Results.
#pragma once

#include "core/try.hpp"
#include "python/error.hpp"

#include <Python.h>

#include <initializer_list>

namespace vemrat::py {

// The new reference a C API call returned, or its pending exception if it returned null.
inline Result<Ref> checked(PyObject* returned) {
    if (returned == nullptr) return fail_with_pending();
    return Ref::steal(returned);
}

// Success, or the pending exception of a C API call that returned -1.
inline Result<void> checked_status(int status) {
    if (status != 0) return fail_with_pending();
    return {};
}

// Returns a new reference to the module, imported through the interpreter's import system.
inline Result<Ref> import_module(PyObject* name) { return checked(PyImport_Import(name)); }

// Returns a new reference to the attribute.
inline Result<Ref> get_attribute(PyObject* object, PyObject* name) { return checked(PyObject_GetAttr(object, name)); }

// Returns a new reference to a dotted name: the module imported, then each attribute in turn
// (lookup(os, {path, dirname}) is os.path.dirname).
inline Result<Ref> lookup(PyObject* module_name, std::initializer_list<PyObject*> attributes) {
    VEMRAT_TRY_ASSIGN(Ref object, import_module(module_name));
    for (PyObject* name : attributes) {
        VEMRAT_TRY_ASSIGN(object, get_attribute(object.get(), name));
    }
    return object;
}

// Returns a new reference to callable().
inline Result<Ref> call(PyObject* callable) { return checked(PyObject_CallNoArgs(callable)); }

// Returns a new reference to callable(argument), a one-argument vector call.
inline Result<Ref> call(PyObject* callable, PyObject* argument) {
    return checked(PyObject_Vectorcall(callable, &argument, 1, nullptr));
}

}  // namespace vemrat::py
