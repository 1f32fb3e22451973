#include "operations/exchange.hpp"

#include "core/text/utf8.hpp"
#include "core/texts.hpp"
#include "python/calls.hpp"
#include "python/convert.hpp"
#include "python/names.hpp"

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
        return core::decode_utf8_lossy({PyBytes_AsString(data), static_cast<std::size_t>(PyBytes_Size(data))});
    }
    if (PyUnicode_Check(data)) return fail(PyExc_TypeError, std::string(texts::str_as_bytes));
    if (!PySequence_Check(data)) return std::unexpected(conversion_error(data, texts::sequence_kind));
    const Py_ssize_t size = PySequence_Size(data);
    if (size < 0) return fail_with_pending();
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t index = 0; index < size; ++index) {
        VEMRAT_TRY_ASSIGN(const Ref item, checked(PySequence_GetItem(data, index)));
        int overflow = 0;
        const long value = PyLong_AsLongAndOverflow(item.get(), &overflow);
        if (value == -1 && PyErr_Occurred()) return fail_with_pending();
        if (overflow != 0 || value < 0 || value > 255) {
            return fail(PyExc_OverflowError, std::string(texts::byte_out_of_range));
        }
        bytes.push_back(static_cast<char>(value));
    }
    return core::decode_utf8_lossy(bytes);
}

Result<std::string> read_body(PyObject* source) {
    // The slot before the receiver is the callee's to use (PY_VECTORCALL_ARGUMENTS_OFFSET).
    PyObject* args[] = {nullptr, source};
    VEMRAT_TRY_ASSIGN(const Ref data, checked(PyObject_VectorcallMethod(VEMRAT_NAME("read"), args + 1,
                                                                        1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr)));
    return body_text(data.get());
}

// The answer of a status code object and of the object whose read() gives the body.
Result<HttpAnswer> answer_of(PyObject* code, PyObject* source) {
    VEMRAT_TRY_ASSIGN(const std::uint16_t status, status_of(code));
    VEMRAT_TRY_ASSIGN(std::string body, read_body(source));
    return HttpAnswer{status, std::move(body)};
}

Result<HttpAnswer> answer_of_response(PyObject* response) {
    VEMRAT_TRY_ASSIGN(const Ref getcode, get_attribute(response, VEMRAT_NAME("getcode")));
    VEMRAT_TRY_ASSIGN(const Ref code, call(getcode.get()));
    return answer_of(code.get(), response);
}

// After urlopen raised: an HTTPError becomes an answer, anything else is the failure.
Result<HttpAnswer> answer_of_failure(PythonError raised) {
    PyObject* exception = raised.instance();
    if (exception == nullptr) return fail(std::move(raised));
    VEMRAT_TRY_ASSIGN(const Ref http_error, lookup(VEMRAT_NAME("urllib.error"), {VEMRAT_NAME("HTTPError")}));
    if (!PyErr_GivenExceptionMatches(exception, http_error.get())) return fail(std::move(raised));
    VEMRAT_TRY_ASSIGN(const Ref code, get_attribute(exception, VEMRAT_NAME("code")));
    return answer_of(code.get(), exception);
}

// urllib.request.Request(url) or Request(url, data): no headers, no other arguments; the class
// and the temporary arguments are released as soon as the request exists.
Result<Ref> new_request(PyObject* request_module, std::string_view url, std::optional<std::string_view> body) {
    VEMRAT_TRY_ASSIGN(const Ref request_class, get_attribute(request_module, VEMRAT_NAME("Request")));
    const Ref url_text = new_text(url);
    if (!body) {
        PyObject* args[] = {url_text.get()};
        return checked(PyObject_Vectorcall(request_class.get(), args, 1, nullptr));
    }
    VEMRAT_TRY_ASSIGN(const Ref data,
                      checked(PyBytes_FromStringAndSize(body->data(), static_cast<Py_ssize_t>(body->size()))));
    PyObject* args[] = {url_text.get(), data.get()};
    return checked(PyObject_Vectorcall(request_class.get(), args, 2, nullptr));
}

}  // namespace

Result<HttpAnswer> http_exchange(std::string_view url, std::string_view method, std::optional<std::string_view> body) {
    VEMRAT_TRY_ASSIGN(const Ref request_module, import_module(VEMRAT_NAME("urllib.request")));
    VEMRAT_TRY_ASSIGN(Ref request, new_request(request_module.get(), url, body));
    VEMRAT_TRY(checked_status(PyObject_SetAttr(request.get(), VEMRAT_NAME("method"), new_text(method).get())));
    VEMRAT_TRY_ASSIGN(const Ref urlopen, get_attribute(request_module.get(), VEMRAT_NAME("urlopen")));
    PyObject* args[] = {request.get()};
    Ref response = Ref::steal(PyObject_Vectorcall(urlopen.get(), args, 1, nullptr));
    if (!response) return answer_of_failure(take_exception());
    return answer_of_response(response.get());
}

Result<core::Envelope> exchange(std::string_view url, std::string_view method, std::optional<std::string_view> body) {
    VEMRAT_TRY_ASSIGN(const HttpAnswer answer, http_exchange(url, method, body));
    auto envelope = core::decode_envelope(answer.status, answer.body);
    if (!envelope) return fail(PyExc_RuntimeError, std::move(envelope.error()));
    return std::move(*envelope);
}

}  // namespace vemrat::py
