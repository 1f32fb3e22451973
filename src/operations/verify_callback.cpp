// Client.verify_callback: the body's signature checked, then its fields as a dict.
#include "core/auth/sign.hpp"
#include "core/json/reader.hpp"
#include "core/text/fill.hpp"
#include "core/texts.hpp"
#include "operations/method.hpp"
#include "python/calls.hpp"
#include "python/convert.hpp"
#include "python/guard.hpp"
#include "python/names.hpp"

namespace vemrat::py {

namespace {

constexpr std::string_view parameter_names[] = {"body", "signature"};
constexpr Parameters parameters{"Client", "verify_callback", parameter_names, 2};

// The callback's fields, in the order the result dict lists them.
Result<Ref> callback_fields(const core::json::Value& document) {
    Ref fields = Ref::steal(PyDict_New());
    if (!fields) panic("could not create a dict: " + take_exception().message());
    if (!document.is_object()) return fields;
    struct Key {
        std::string_view text;
        PyObject* name;
    };
    const Key keys[] = {
        {"status", VEMRAT_NAME("status")},
        {"order_id", VEMRAT_NAME("order_id")},
        {"amount", VEMRAT_NAME("amount")},
        {"settle_amount", VEMRAT_NAME("settle_amount")},
        {"reason", VEMRAT_NAME("reason")},
        {"expired", VEMRAT_NAME("expired")},
    };
    for (const Key& key : keys) {
        const core::json::Value* member = document.find(key.text);
        if (member == nullptr) continue;
        const Ref value = new_text(member->is_string() ? member->as_string() : std::string_view());
        VEMRAT_TRY(checked_status(PyDict_SetItem(fields.get(), key.name, value.get())));
    }
    return fields;
}

Result<Ref> run(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    VEMRAT_TRY_ASSIGN(const ClientCall<2> call, begin_client_call<2>(parameters, self, args, nargs, kwnames));
    VEMRAT_TRY_ASSIGN(const std::string_view body, argument("body", text_view(call.args[0])));
    VEMRAT_TRY_ASSIGN(const std::string_view signature, argument("signature", text_view(call.args[1])));

    const std::string expected = or_panic(core::sign(call.keys->sponsor_key.view(), body));
    if (!core::signature_matches(signature, expected)) {
        return fail(PyExc_RuntimeError, std::string(texts::invalid_signature));
    }
    auto document = core::json::parse_json(body);
    if (!document) return fail(PyExc_RuntimeError, core::fill(texts::invalid_callback_json, {document.error().text()}));
    return callback_fields(document->root());
}

}  // namespace

PyObject* verify_callback(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&] { return run(self, args, nargs, kwnames); });
}

}  // namespace vemrat::py
