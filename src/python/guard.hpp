// The trampoline around every function the interpreter calls: it runs the body, raises a
// returned PythonError, and turns an internal failure into PanicException.
#pragma once

#include "python/error.hpp"

#include <new>
#include <source_location>

namespace vemrat::py {

namespace detail {
inline void raise_unexpected(const char* what) noexcept {
    raise_internal_failure(InternalFailure(what, std::source_location::current()));
}
}  // namespace detail

// `body` returns Result<Ref>; the guard returns a new reference, or null with an exception set.
template <class Body>
PyObject* guard(Body&& body) noexcept {
    try {
        Result<Ref> result = body();
        if (result) {
            if (PyErr_Occurred()) panic("an entry point returned a value with an exception pending");
            return result->release();
        }
        std::move(result.error()).restore();
    } catch (const InternalFailure& failure) {
        raise_internal_failure(failure);
    } catch (const std::bad_alloc&) {
        detail::raise_unexpected("out of memory");
    } catch (const std::exception& error) {
        detail::raise_unexpected(error.what());
    } catch (...) {
        detail::raise_unexpected("unknown C++ exception");
    }
    return nullptr;
}

// For deallocation: there is no caller to receive an exception, so an internal failure is
// reported as unraisable on the object being freed.
template <class Body>
void guard_dealloc(PyObject* self, Body&& body) noexcept {
    try {
        body();
        return;
    } catch (const InternalFailure& failure) {
        raise_internal_failure(failure);
    } catch (...) {
        detail::raise_unexpected("unknown C++ exception during deallocation");
    }
    PyErr_WriteUnraisable(self);
}

}  // namespace vemrat::py
