#include "python/binding.hpp"

#include <string>

namespace vemrat::py {

namespace {

std::string full_name(const Parameters& parameters) {
    std::string name;
    name.append(parameters.class_name).append(".").append(parameters.function_name).append("()");
    return name;
}

Result<void> check_positional_count(const Parameters& parameters, std::size_t given) {
    const std::size_t total = parameters.names.size();
    if (given <= total) return {};
    std::string message = full_name(parameters) + " takes ";
    if (parameters.required == total) {
        message += std::to_string(total);
    } else {
        message += "from " + std::to_string(parameters.required) + " to " + std::to_string(total);
    }
    message += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
    return fail(PyExc_TypeError, std::move(message));
}

Result<void> bind_keyword(const Parameters& parameters, PyObject* name, PyObject* value, std::span<PyObject*> out) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(name, &size);
    if (text == nullptr) return fail_with_pending();
    const std::string_view keyword(text, static_cast<std::size_t>(size));
    for (std::size_t index = 0; index < parameters.names.size(); ++index) {
        if (parameters.names[index] != keyword) continue;
        if (out[index] != nullptr) {
            return fail(PyExc_TypeError,
                        full_name(parameters) + " got multiple values for argument '" + std::string(keyword) + "'");
        }
        out[index] = value;
        return {};
    }
    return fail(PyExc_TypeError,
                full_name(parameters) + " got an unexpected keyword argument '" + std::string(keyword) + "'");
}

Result<void> check_required(const Parameters& parameters, std::span<PyObject*> out) {
    std::size_t missing = 0;
    for (std::size_t index = 0; index < parameters.required; ++index) missing += out[index] == nullptr;
    if (missing == 0) return {};
    std::string message = full_name(parameters) + " missing " + std::to_string(missing) + " required positional " +
                          (missing == 1 ? "argument" : "arguments") + ": ";
    std::size_t listed = 0;
    for (std::size_t index = 0; index < parameters.required; ++index) {
        if (out[index] != nullptr) continue;
        if (listed > 0) {
            if (missing == 2) {
                message += " and ";
            } else {
                message += listed + 1 == missing ? ", and " : ", ";
            }
        }
        message.append("'").append(parameters.names[index]).append("'");
        ++listed;
    }
    return fail(PyExc_TypeError, std::move(message));
}

}  // namespace

Result<void> bind_arguments(const Parameters& parameters, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, std::span<PyObject*> out) {
    const auto positional = static_cast<std::size_t>(nargs);
    if (auto counted = check_positional_count(parameters, positional); !counted) return counted;
    for (PyObject*& slot : out) slot = nullptr;
    for (std::size_t index = 0; index < positional; ++index) out[index] = args[index];
    if (kwnames != nullptr) {
        const Py_ssize_t keywords = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t index = 0; index < keywords; ++index) {
            auto bound = bind_keyword(parameters, PyTuple_GET_ITEM(kwnames, index), args[nargs + index], out);
            if (!bound) return bound;
        }
    }
    return check_required(parameters, out);
}

Result<void> bind_arguments(const Parameters& parameters, PyObject* args, PyObject* kwargs,
                            std::span<PyObject*> out) {
    const auto positional = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
    if (auto counted = check_positional_count(parameters, positional); !counted) return counted;
    for (PyObject*& slot : out) slot = nullptr;
    for (std::size_t index = 0; index < positional; ++index) out[index] = PyTuple_GET_ITEM(args, index);
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* name = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &name, &value)) {
            auto bound = bind_keyword(parameters, name, value, out);
            if (!bound) return bound;
        }
    }
    return check_required(parameters, out);
}

}  // namespace vemrat::py
