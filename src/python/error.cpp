#include "python/error.hpp"

#include "core/texts.hpp"
#include "python/compat.hpp"

#include <cstdio>

namespace vemrat::py {

namespace {

PyObject* panic_class = nullptr;

std::string text_of(PyObject* object) {
    Ref text = Ref::steal(PyObject_Str(object));
    if (text) {
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size)) return std::string(utf8, size);
    }
    PyErr_Clear();
    return "<exception str() failed>";
}

// Writes to sys.stderr when there is one, else to the process's standard error. Leaves any
// pending exception as it was.
void write_stderr(const std::string& text) {
    PyObject* pending = PyErr_GetRaisedException();
    PyObject* stream = PySys_GetObject("stderr");
    if (stream == nullptr || stream == Py_None || PyFile_WriteString(text.c_str(), stream) != 0) {
        PyErr_Clear();
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
    }
    PyErr_SetRaisedException(pending);
}

}  // namespace

void PythonError::restore() && {
    if (exception_) {
        PyErr_SetRaisedException(exception_.release());
        return;
    }
    if (type_ == nullptr || !PyExceptionClass_Check(type_)) {
        PyErr_SetString(PyExc_TypeError, texts::not_an_exception_class.data());
        return;
    }
    Ref message = Ref::steal(PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size())));
    if (message) PyErr_SetObject(type_, message.get());
}

PyObject* PythonError::type() const noexcept {
    return exception_ ? reinterpret_cast<PyObject*>(Py_TYPE(exception_.get())) : type_;
}

std::string PythonError::message() const { return exception_ ? text_of(exception_.get()) : message_; }

Ref PythonError::cause() const { return exception_ ? Ref::steal(PyException_GetCause(exception_.get())) : Ref(); }

PythonError take_exception(std::source_location where) {
    Ref exception = Ref::steal(PyErr_GetRaisedException());
    if (!exception) {
        return PythonError::deferred(PyExc_SystemError, std::string(texts::no_exception_set));
    }
    if (panic_class != nullptr && Py_IS_TYPE(exception.get(), reinterpret_cast<PyTypeObject*>(panic_class))) {
        std::string message = text_of(exception.get());
        write_stderr("vemrat_pay: PanicException raised by Python code called from the module; "
                     "continuing as an internal failure. Python traceback:\n");
        PyErr_DisplayException(exception.get());
        throw InternalFailure(std::move(message), where);
    }
    return PythonError::ready(std::move(exception));
}

PyObject* panic_exception_class() {
    if (panic_class == nullptr) {
        panic_class = PyErr_NewExceptionWithDoc(texts::panic_type, texts::panic_doc, PyExc_BaseException, nullptr);
    }
    return panic_class;
}

void raise_internal_failure(const InternalFailure& failure) noexcept {
    try {
        const std::source_location& where = failure.where();
        write_stderr(std::string("vemrat_pay: internal failure at ") + where.file_name() + ":" +
                     std::to_string(where.line()) + " in " + where.function_name() + ": " + failure.what() + "\n");
        PyObject* panic_type = panic_exception_class();
        if (panic_type == nullptr) {
            // Out of memory at the first internal failure: the interpreter's own exception
            // (MemoryError) stands, and the class is created at the next one.
            write_stderr("vemrat_pay: " + std::string(texts::panic_class_unavailable) + "\n");
            return;
        }
        PythonError::deferred(panic_type, failure.what()).restore();
    } catch (...) {
        Py_FatalError("vemrat_pay: could not report an internal failure");
    }
}

}  // namespace vemrat::py
