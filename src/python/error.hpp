// The module's one failure value, and internal failures.
#pragma once

#include "python/ref.hpp"

#include <Python.h>

#include <exception>
#include <expected>
#include <source_location>
#include <string>
#include <string_view>

namespace vemrat::py {

// Exactly one Python exception: deferred (a class and a message, nothing created until it is
// raised) or ready (an exception instance taken from the interpreter). Dropping one without
// restoring it discards the exception.
class PythonError {
public:
    // `type` is an exception class that lives for the whole process (a built-in one or the
    // module's own); it is not reference-counted here.
    static PythonError deferred(PyObject* type, std::string message) {
        return PythonError(type, std::move(message), Ref());
    }
    // Steals `exception`, an exception instance.
    static PythonError ready(Ref exception) { return PythonError(nullptr, {}, std::move(exception)); }

    PythonError(PythonError&&) noexcept = default;
    PythonError& operator=(PythonError&&) noexcept = default;

    // Makes this the interpreter's current exception; consumes the error.
    void restore() &&;

    // The class of the exception, borrowed.
    PyObject* type() const noexcept;
    bool is_exactly(PyObject* type) const noexcept { return this->type() == type; }
    // An Exception, as opposed to KeyboardInterrupt, SystemExit, GeneratorExit and the other
    // direct subclasses of BaseException.
    bool is_ordinary() const noexcept { return PyErr_GivenExceptionMatches(type(), PyExc_Exception) != 0; }
    // The text of the exception: the message, or str() of the instance.
    std::string message() const;
    // The instance's __cause__ as a new reference; empty for a deferred error.
    Ref cause() const;
    // The exception instance of a ready error, borrowed; null for a deferred one.
    PyObject* instance() const noexcept { return exception_.get(); }

private:
    PythonError(PyObject* type, std::string message, Ref exception)
        : type_(type), message_(std::move(message)), exception_(std::move(exception)) {}

    PyObject* type_;
    std::string message_;
    Ref exception_;
};

template <class T>
using Result = std::expected<T, PythonError>;

inline std::unexpected<PythonError> fail(PyObject* type, std::string message) {
    return std::unexpected(PythonError::deferred(type, std::move(message)));
}
inline std::unexpected<PythonError> fail(PythonError error) { return std::unexpected(std::move(error)); }

// Takes the exception that a failed interpreter call left pending (a SystemError when none
// is). A PanicException coming back through Python code is reported and continues as an
// internal failure.
PythonError take_exception(std::source_location where = std::source_location::current());
inline std::unexpected<PythonError> fail_with_pending(std::source_location where = std::source_location::current()) {
    return std::unexpected(take_exception(where));
}

// A broken internal assumption; the entry-point guard turns it into PanicException.
class InternalFailure : public std::exception {
public:
    InternalFailure(std::string message, std::source_location where) : message_(std::move(message)), where_(where) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::source_location& where() const noexcept { return where_; }

private:
    std::string message_;
    std::source_location where_;
};

[[noreturn]] inline void panic(std::string message, std::source_location where = std::source_location::current()) {
    throw InternalFailure(std::move(message), where);
}

// The value of a pure step whose failure can only be a broken assumption of the machine (a clock
// before 1970, no random source, libcrypto unable to compute): such a failure is an internal one.
template <class T>
T or_panic(std::expected<T, std::string> result, std::source_location where = std::source_location::current()) {
    if (!result) panic(std::move(result.error()), where);
    return std::move(*result);
}

// The PanicException class (derived from BaseException), created on first use. Borrowed; null
// with the exception pending when the class cannot be created (tried again on the next use).
PyObject* panic_exception_class();

// Writes the diagnostic for an internal failure to standard error and raises PanicException.
void raise_internal_failure(const InternalFailure& failure) noexcept;

}  // namespace vemrat::py
