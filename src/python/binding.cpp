#include "python/binding.hpp"

#include "core/text/fill.hpp"
#include "core/texts.hpp"
#include "core/try.hpp"

#include <string>

namespace vemrat::py {

namespace {

using core::fill;

std::string full_name(const Parameters& parameters) {
    return fill(texts::full_name, {parameters.class_name, parameters.function_name});
}

Result<void> check_positional_count(const Parameters& parameters, std::size_t given) {
    const std::size_t total = parameters.names.size();
    if (given <= total) return {};
    const std::string_view verb = given == 1 ? "was" : "were";
    if (parameters.required == total) {
        return fail(PyExc_TypeError, fill(texts::too_many_positional,
                                          {full_name(parameters), std::to_string(total), std::to_string(given), verb}));
    }
    return fail(PyExc_TypeError,
                fill(texts::too_many_positional_range, {full_name(parameters), std::to_string(parameters.required),
                                                        std::to_string(total), std::to_string(given), verb}));
}

Result<void> bind_keyword(const Parameters& parameters, PyObject* name, PyObject* value, std::span<PyObject*> out) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(name, &size);
    if (text == nullptr) return fail_with_pending();
    const std::string_view keyword(text, static_cast<std::size_t>(size));
    for (std::size_t index = 0; index < parameters.names.size(); ++index) {
        if (parameters.names[index] != keyword) continue;
        if (out[index] != nullptr) {
            return fail(PyExc_TypeError, fill(texts::multiple_values, {full_name(parameters), keyword}));
        }
        out[index] = value;
        return {};
    }
    return fail(PyExc_TypeError, fill(texts::unexpected_keyword, {full_name(parameters), keyword}));
}

Result<void> check_required(const Parameters& parameters, std::span<PyObject*> out) {
    std::size_t missing = 0;
    for (std::size_t index = 0; index < parameters.required; ++index) missing += out[index] == nullptr;
    if (missing == 0) return {};
    std::string message = fill(texts::missing_required, {full_name(parameters), std::to_string(missing),
                                                         missing == 1 ? "argument" : "arguments"});
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
    VEMRAT_TRY(check_positional_count(parameters, positional));
    for (std::size_t index = 0; index < out.size(); ++index) out[index] = index < positional ? args[index] : nullptr;
    const Py_ssize_t keywords = kwnames != nullptr ? PyTuple_Size(kwnames) : 0;
    for (Py_ssize_t index = 0; index < keywords; ++index) {
        VEMRAT_TRY(bind_keyword(parameters, PyTuple_GetItem(kwnames, index), args[nargs + index], out));
    }
    return check_required(parameters, out);
}

Result<void> bind_arguments(const Parameters& parameters, PyObject* args, PyObject* kwargs,
                            std::span<PyObject*> out) {
    const auto positional = static_cast<std::size_t>(PyTuple_Size(args));
    VEMRAT_TRY(check_positional_count(parameters, positional));
    for (std::size_t index = 0; index < out.size(); ++index) {
        out[index] = index < positional ? PyTuple_GetItem(args, static_cast<Py_ssize_t>(index)) : nullptr;
    }
    Py_ssize_t position = 0;
    PyObject* name = nullptr;
    PyObject* value = nullptr;
    while (kwargs != nullptr && PyDict_Next(kwargs, &position, &name, &value)) {
        VEMRAT_TRY(bind_keyword(parameters, name, value, out));
    }
    return check_required(parameters, out);
}

}  // namespace vemrat::py
