// The registry of the module's classes: each is created once from its type specification
// and kept for the life of the process.
#pragma once

#include "python/convert.hpp"
#include "python/error.hpp"

#include <Python.h>

#include <string_view>

namespace vemrat::py {

enum class Class { Client, PaymentResult, OrderStatus };

std::string_view class_name(Class cls);

// The class object, borrowed; created on the first call.
Result<PyTypeObject*> get_type_object(Class cls);

// For use after import, when the classes exist: a failure is an internal one.
PyTypeObject* type_object(Class cls);

// The receiver as the instance layout of `cls`, or TypeError naming the class.
template <class Object>
Result<Object*> receiver(PyObject* self, Class cls) {
    if (!PyObject_TypeCheck(self, type_object(cls))) {
        return std::unexpected(conversion_error(self, class_name(cls)));
    }
    return reinterpret_cast<Object*>(self);
}

// tp_new of the classes that Python code may not construct.
PyObject* refuse_construction(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// Frees an instance through its type's tp_free and drops the instance's reference to its
// heap type. The fields must already be destroyed.
void free_instance(PyObject* self);

// Type specifications, one per class, each defined in its class's file.
PyType_Spec& client_type_spec();
PyType_Spec& payment_result_type_spec();
PyType_Spec& order_status_type_spec();

}  // namespace vemrat::py
