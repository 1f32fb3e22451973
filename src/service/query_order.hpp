#pragma once

#include <Python.h>

namespace vemrat::py {

// Client.query_order, vectorcall convention.
PyObject* query_order(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace vemrat::py
