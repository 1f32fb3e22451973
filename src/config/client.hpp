// The Client instance: the merchant's two credentials, fixed at construction.
#pragma once

#include "config/secret_text.hpp"

#include <Python.h>

namespace vemrat::py {

struct ClientFields {
    SecretText community_key;
    SecretText sponsor_key;
};

struct ClientObject {
    PyObject_HEAD
    ClientFields fields;
};

// tp_new of Client.
PyObject* client_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);

}  // namespace vemrat::py
