// The Client class: the merchant's two credentials, fixed at construction, and the class's four
// entry points. The entry points are implemented in operations/ (new_client.cpp and one file per
// method); the class only names them.
#pragma once

#include "core/config/load_keys.hpp"
#include "python/instance.hpp"

#include <Python.h>

namespace vemrat::py {

using ClientObject = Instance<core::Keys>;

// tp_new: Client(community_key=None, sponsor_key=None).
PyObject* new_client(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// The methods, vectorcall convention (METH_FASTCALL | METH_KEYWORDS).
PyObject* create_payment(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* query_order(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* verify_callback(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace vemrat::py
