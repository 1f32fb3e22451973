#pragma once

#include <Python.h>

namespace vemrat::py {

// Client.verify_callback, vectorcall convention.
PyObject* verify_callback(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace vemrat::py
