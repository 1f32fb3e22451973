#pragma once

#include <Python.h>

namespace vemrat::py {

// Client.create_payment, vectorcall convention.
PyObject* create_payment(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace vemrat::py
