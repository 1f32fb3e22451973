#include "classes/registry.hpp"

#include "core/text/fill.hpp"
#include "core/texts.hpp"
#include "python/guard.hpp"

#include <array>

namespace vemrat::py {

namespace {

std::array<PyTypeObject*, 3> type_objects{};

PyType_Spec& spec_of(Class cls) {
    switch (cls) {
        case Class::Client: return client_type_spec();
        case Class::PaymentResult: return payment_result_type_spec();
        case Class::OrderStatus: return order_status_type_spec();
    }
    panic("unknown class");
}

}  // namespace

std::string_view class_name(Class cls) {
    switch (cls) {
        case Class::Client: return "Client";
        case Class::PaymentResult: return "PaymentResult";
        case Class::OrderStatus: return "OrderStatus";
    }
    return "<unknown>";
}

Result<PyTypeObject*> get_type_object(Class cls) {
    PyTypeObject*& cached = type_objects[static_cast<std::size_t>(cls)];
    if (cached == nullptr) {
        PyObject* type = PyType_FromSpec(&spec_of(cls));
        if (type == nullptr) return fail_with_pending();
        cached = reinterpret_cast<PyTypeObject*>(type);
    }
    return cached;
}

PyTypeObject* type_object(Class cls) {
    PyTypeObject* cached = type_objects[static_cast<std::size_t>(cls)];
    if (cached != nullptr) return cached;
    auto created = get_type_object(cls);
    if (created) return *created;
    std::move(created.error()).restore();
    PyErr_Print();
    panic(core::fill(texts::type_not_created, {class_name(cls)}));
}

PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) {
    return guard([&]() -> Result<Ref> {
        std::string name(texts::unknown_type_name);
        if (Ref type_name_object = Ref::steal(PyType_GetName(type))) {
            Py_ssize_t size = 0;
            if (const char* text = PyUnicode_AsUTF8AndSize(type_name_object.get(), &size)) name.assign(text, size);
        }
        PyErr_Clear();
        return fail(PyExc_TypeError, core::fill(texts::no_constructor, {name}));
    });
}

void free_instance(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto* free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    if (free == nullptr) panic(std::string(texts::no_tp_free));
    free(self);
    Py_DECREF(type);
}

}  // namespace vemrat::py
