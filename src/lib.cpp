// The module's entry point and body.
#include "python/convert.hpp"
#include "python/guard.hpp"
#include "python/types.hpp"

#include <atomic>
#include <cstdint>

namespace vemrat::py {

namespace {

PyModuleDef module_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "vemrat_pay",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

std::atomic<std::int64_t> first_interpreter_id{-1};
PyObject* module_object = nullptr;

// Sets the module attribute `name` and lists it in __all__.
Result<void> module_add(PyObject* module, const char* name, PyObject* value) {
    Ref names = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!names) {
        PythonError error = take_exception();
        if (!PyErr_GivenExceptionMatches(error.type(), PyExc_AttributeError)) return fail(std::move(error));
        names = Ref::steal(PyList_New(0));
        if (!names) return fail_with_pending();
        if (PyObject_SetAttrString(module, "__all__", names.get()) != 0) return fail_with_pending();
    }
    if (!PyList_Check(names.get())) return std::unexpected(conversion_error(names.get(), "PyList"));
    if (PyList_Append(names.get(), new_text(name).get()) != 0) {
        PyErr_Clear();
        panic("could not append __name__ to __all__");
    }
    if (PyObject_SetAttrString(module, name, value) != 0) return fail_with_pending();
    return {};
}

Result<void> module_body(PyObject* module) {
    constexpr Class classes[] = {Class::Client, Class::PaymentResult, Class::OrderStatus};
    for (Class cls : classes) {
        auto type = get_type_object(cls);
        if (!type) return fail(std::move(type.error()));
        const std::string name(class_name(cls));
        if (auto added = module_add(module, name.c_str(), reinterpret_cast<PyObject*>(*type)); !added) return added;
    }
    return module_add(module, "__version__", new_text("0.1.0").get());
}

Result<Ref> initialise() {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1 && PyErr_Occurred()) return fail_with_pending();
    std::int64_t expected = -1;
    if (!first_interpreter_id.compare_exchange_strong(expected, interpreter, std::memory_order_seq_cst) &&
        expected != interpreter) {
        return fail(PyExc_ImportError,
                    "vemrat_pay does not support sub-interpreters: it can only be imported in the first "
                    "interpreter that imported it");
    }
    if (module_object != nullptr) return Ref::borrow(module_object);
    Ref module = Ref::steal(PyModule_Create2(&module_definition, 1013));
    if (!module) return fail_with_pending();
    if (auto body = module_body(module.get()); !body) return fail(std::move(body.error()));
    module_object = Ref::borrow(module.get()).release();
    return module;
}

}  // namespace

}  // namespace vemrat::py

PyMODINIT_FUNC PyInit_vemrat_pay() {
    return vemrat::py::guard([] { return vemrat::py::initialise(); });
}
