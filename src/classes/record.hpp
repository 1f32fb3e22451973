// Pieces shared by the classes whose instances carry a `fields` struct after the object
// header: creation from C++, deallocation and the get-only attribute getters.
#pragma once

#include "classes/registry.hpp"
#include "core/try.hpp"
#include "python/convert.hpp"
#include "python/guard.hpp"

#include <cstdint>
#include <new>
#include <string>
#include <utility>

namespace vemrat::py {

// Returns a new instance of `type` holding `fields` (moved in); on failure `fields` is
// released with the error returned.
template <class Object>
Result<Ref> make_instance(PyTypeObject* type, decltype(Object::fields)&& fields) {
    PyObject* self = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc))(type, 0);
    if (self == nullptr) return fail_with_pending();
    new (&reinterpret_cast<Object*>(self)->fields) decltype(Object::fields)(std::move(fields));
    return Ref::steal(self);
}

template <class Object>
Result<Ref> make_record(Class cls, decltype(Object::fields)&& fields) {
    VEMRAT_TRY_ASSIGN(PyTypeObject* const type, get_type_object(cls));
    return make_instance<Object>(type, std::move(fields));
}

template <class Object>
void dealloc_record(PyObject* self) {
    guard_dealloc(self, [&] {
        using Fields = decltype(Object::fields);
        reinterpret_cast<Object*>(self)->fields.~Fields();
        free_instance(self);
    });
}

template <class Object, Class cls, auto field>
PyObject* text_getter(PyObject* self, void*) {
    return guard([&]() -> Result<Ref> {
        VEMRAT_TRY_ASSIGN(const Object* const object, receiver<Object>(self, cls));
        return new_text(object->fields.*field);
    });
}

template <class Object, Class cls, auto field>
PyObject* int_getter(PyObject* self, void*) {
    return guard([&]() -> Result<Ref> {
        VEMRAT_TRY_ASSIGN(const Object* const object, receiver<Object>(self, cls));
        Ref value = Ref::steal(PyLong_FromLong(object->fields.*field));
        if (!value) panic("could not create an int: " + take_exception().message());
        return value;
    });
}

}  // namespace vemrat::py
