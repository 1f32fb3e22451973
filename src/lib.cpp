// The module's entry point and body: the module object, created once, holding the three classes.
#include "classes/registry.hpp"
#include "core/texts.hpp"
#include "core/try.hpp"
#include "python/calls.hpp"
#include "python/convert.hpp"
#include "python/guard.hpp"

#include <atomic>
#include <cstdint>

namespace vemrat::py {

namespace {

PyModuleDef module_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = texts::module_name,
    .m_doc = texts::module_doc,
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

std::atomic<std::int64_t> first_interpreter_id{-1};
PyObject* module_object = nullptr;

// The module's __all__ list, created empty when the module has none.
Result<Ref> all_list(PyObject* module) {
    Ref names = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (names) return names;
    PythonError error = take_exception();
    if (!PyErr_GivenExceptionMatches(error.type(), PyExc_AttributeError)) return fail(std::move(error));
    VEMRAT_TRY_ASSIGN(names, checked(PyList_New(0)));
    VEMRAT_TRY(checked_status(PyObject_SetAttrString(module, "__all__", names.get())));
    return names;
}

// Sets the module attribute `name` and lists it in __all__.
Result<void> module_add(PyObject* module, std::string_view name, PyObject* value) {
    VEMRAT_TRY_ASSIGN(const Ref names, all_list(module));
    if (!PyList_Check(names.get())) return std::unexpected(conversion_error(names.get(), texts::list_kind));
    const Ref name_text = new_text(name);
    if (PyList_Append(names.get(), name_text.get()) != 0) {
        PyErr_Clear();
        panic(std::string(texts::all_not_appended));
    }
    return checked_status(PyObject_SetAttr(module, name_text.get(), value));
}

Result<void> module_body(PyObject* module) {
    for (const Class cls : {Class::Client, Class::PaymentResult, Class::OrderStatus}) {
        VEMRAT_TRY_ASSIGN(PyTypeObject* const type, get_type_object(cls));
        VEMRAT_TRY(module_add(module, class_name(cls), reinterpret_cast<PyObject*>(type)));
    }
    return module_add(module, "__version__", new_text(texts::version).get());
}

Result<Ref> initialise() {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1 && PyErr_Occurred()) return fail_with_pending();
    std::int64_t expected = -1;
    if (!first_interpreter_id.compare_exchange_strong(expected, interpreter, std::memory_order_seq_cst) &&
        expected != interpreter) {
        return fail(PyExc_ImportError, std::string(texts::sub_interpreters));
    }
    if (module_object != nullptr) return Ref::borrow(module_object);
    VEMRAT_TRY_ASSIGN(Ref module, checked(PyModule_Create2(&module_definition, PYTHON_API_VERSION)));
    VEMRAT_TRY(module_body(module.get()));
    module_object = Ref::borrow(module.get()).release();
    return module;
}

}  // namespace

}  // namespace vemrat::py

PyMODINIT_FUNC PyInit_vemrat_pay() {
    return vemrat::py::guard([] { return vemrat::py::initialise(); });
}
