// The layout of every instance of the module's classes: the object header, then the C++ fields
// of the class, constructed when the instance is made and destroyed when it is freed.
#pragma once

#include <Python.h>

namespace vemrat::py {

template <class Fields>
struct Instance {
    PyObject_HEAD
    Fields fields;
};

}  // namespace vemrat::py
