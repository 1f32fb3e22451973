#include "service/http_exchange.hpp"

#include "python/calls.hpp"
#include "python/convert.hpp"
#include "python/names.hpp"
#include "service/utf8.hpp"

namespace vemrat::py {

namespace {

Result<std::uint16_t> status_of(PyObject* code) {
    const long value = PyLong_AsLong(code);
    if (value == -1 && PyErr_Occurred()) return fail_with_pending();
    return static_cast<std::uint16_t>(static_cast<unsigned long>(value) & 0xffffu);
}

// The text of what read() returned: a bytes object, or any sequence of integers 0-255,
// decoded as UTF-8 with replacement.
Result<std::string> body_text(PyObject* data) {
    if (PyBytes_Check(data)) {
        return decode_utf8_lossy({PyBytes_AS_STRING(data), static_cast<std::size_t>(PyBytes_GET_SIZE(data))});
    }
    if (PyUnicode_Check(data)) return fail(PyExc_TypeError, "Can't extract `str` to `Vec`");
    if (!PySequence_Check(data)) return std::unexpected(conversion_error(data, "Sequence"));
    const Py_ssize_t size = PySequence_Size(data);
    if (size < 0) return fail_with_pending();
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t index = 0; index < size; ++index) {
        Ref item = Ref::steal(PySequence_GetItem(data, index));
        if (!item) return fail_with_pending();
        int overflow = 0;
        const long value = PyLong_AsLongAndOverflow(item.get(), &overflow);
        if (value == -1 && PyErr_Occurred()) return fail_with_pending();
        if (overflow != 0 || value < 0 || value > 255) {
            return fail(PyExc_OverflowError, "out of range integral type conversion attempted");
        }
        bytes.push_back(static_cast<char>(value));
    }
    return decode_utf8_lossy(bytes);
}

Result<std::string> read_body(PyObject* source) {
    // The slot before the receiver is the callee's to use (PY_VECTORCALL_ARGUMENTS_OFFSET).
    PyObject* args[] = {nullptr, source};
    Ref data = Ref::steal(PyObject_VectorcallMethod(VEMRAT_NAME("read"), args + 1,
                                                    1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!data) return fail_with_pending();
    return body_text(data.get());
}

// The answer of a status code object and of the object whose read() gives the body.
Result<HttpAnswer> answer_of(PyObject* code, PyObject* source) {
    auto status = status_of(code);
    if (!status) return fail(std::move(status.error()));
    auto body = read_body(source);
    if (!body) return fail(std::move(body.error()));
    return HttpAnswer{*status, std::move(*body)};
}

Result<HttpAnswer> answer_of_response(PyObject* response) {
    auto getcode = get_attribute(response, VEMRAT_NAME("getcode"));
    if (!getcode) return fail(std::move(getcode.error()));
    Ref code = Ref::steal(PyObject_CallNoArgs(getcode->get()));
    if (!code) return fail_with_pending();
    return answer_of(code.get(), response);
}

// After urlopen raised: an HTTPError becomes an answer, anything else is the failure.
Result<HttpAnswer> answer_of_failure(PythonError raised) {
    PyObject* exception = raised.instance();
    if (exception == nullptr) return fail(std::move(raised));
    auto error_module = import_module(VEMRAT_NAME("urllib.error"));
    if (!error_module) return fail(std::move(error_module.error()));
    auto http_error = get_attribute(error_module->get(), VEMRAT_NAME("HTTPError"));
    if (!http_error) return fail(std::move(http_error.error()));
    if (!PyErr_GivenExceptionMatches(exception, http_error->get())) return fail(std::move(raised));
    auto code = get_attribute(exception, VEMRAT_NAME("code"));
    if (!code) return fail(std::move(code.error()));
    return answer_of(code->get(), exception);
}

}  // namespace

Result<HttpAnswer> http_exchange(std::string_view url, std::string_view method, std::optional<std::string_view> body) {
    auto request_module = import_module(VEMRAT_NAME("urllib.request"));
    if (!request_module) return fail(std::move(request_module.error()));
    auto request_class = get_attribute(request_module->get(), VEMRAT_NAME("Request"));
    if (!request_class) return fail(std::move(request_class.error()));

    Ref url_text = new_text(url);
    Ref request;
    if (body) {
        Ref data = Ref::steal(PyBytes_FromStringAndSize(body->data(), static_cast<Py_ssize_t>(body->size())));
        if (!data) return fail_with_pending();
        PyObject* args[] = {url_text.get(), data.get()};
        request = Ref::steal(PyObject_Vectorcall(request_class->get(), args, 2, nullptr));
    } else {
        PyObject* args[] = {url_text.get()};
        request = Ref::steal(PyObject_Vectorcall(request_class->get(), args, 1, nullptr));
    }
    if (!request) return fail_with_pending();
    request_class->reset();
    url_text.reset();
    if (PyObject_SetAttr(request.get(), VEMRAT_NAME("method"), new_text(method).get()) != 0) return fail_with_pending();

    auto urlopen = get_attribute(request_module->get(), VEMRAT_NAME("urlopen"));
    if (!urlopen) return fail(std::move(urlopen.error()));
    PyObject* args[] = {request.get()};
    Ref response = Ref::steal(PyObject_Vectorcall(urlopen->get(), args, 1, nullptr));
    if (!response) return answer_of_failure(take_exception());
    return answer_of_response(response.get());
}

}  // namespace vemrat::py
