#include "python/convert.hpp"

#include "core/text/fill.hpp"
#include "core/texts.hpp"

namespace vemrat::py {

std::string type_name(PyObject* object) {
    Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(object)));
    if (name) {
        Py_ssize_t size = 0;
        if (const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size)) return std::string(text, size);
    }
    PyErr_Clear();
    return std::string(texts::unknown_type_name);
}

PythonError conversion_error(PyObject* object, std::string_view kind) {
    return PythonError::deferred(PyExc_TypeError, core::fill(texts::cannot_convert, {type_name(object), kind}));
}

Result<std::string_view> text_view(PyObject* object) {
    if (!PyUnicode_Check(object)) return std::unexpected(conversion_error(object, texts::text_kind));
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (text == nullptr) return fail_with_pending();
    return std::string_view(text, static_cast<std::size_t>(size));
}

Result<double> float_value(PyObject* object) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return fail_with_pending();
    return value;
}

PythonError argument_error(std::string_view name, PythonError error) {
    if (!error.is_exactly(PyExc_TypeError)) return error;
    const std::string message = core::fill(texts::argument_named, {name, error.message()});
    Ref cause = error.cause();
    if (!cause) return PythonError::deferred(PyExc_TypeError, std::move(message));
    const Ref text = new_text(message);
    PyObject* argument = text.get();
    Ref replacement = Ref::steal(PyObject_Vectorcall(PyExc_TypeError, &argument, 1, nullptr));
    if (!replacement) return take_exception();
    PyException_SetCause(replacement.get(), cause.release());
    return PythonError::ready(std::move(replacement));
}

Ref new_text(std::string_view text) {
    Ref object = Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!object) panic("could not create a str: " + take_exception().message());
    return object;
}

}  // namespace vemrat::py
