// The few calls of the C API that the module takes from CPython 3.12 and later, written for
// 3.11 on top of the older exception triple.
#pragma once

#include <Python.h>

#if PY_VERSION_HEX < 0x030C0000

// The pending exception as one normalised instance carrying its traceback; clears it.
inline PyObject* PyErr_GetRaisedException() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return nullptr;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_DECREF(type);
    Py_XDECREF(traceback);
    return value;
}

// Steals `exception` and makes it the pending exception; null clears it.
inline void PyErr_SetRaisedException(PyObject* exception) {
    if (exception == nullptr) {
        PyErr_Restore(nullptr, nullptr, nullptr);
        return;
    }
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception))), exception,
                  PyException_GetTraceback(exception));
}

inline void PyErr_DisplayException(PyObject* exception) {
    PyObject* traceback = PyException_GetTraceback(exception);
    PyErr_Display(nullptr, exception, traceback);
    Py_XDECREF(traceback);
}

#endif
