#include "auth/verify_callback.hpp"

#include "auth/sign.hpp"
#include "config/client.hpp"
#include "python/binding.hpp"
#include "python/names.hpp"
#include "python/record.hpp"
#include "service/json.hpp"

namespace vemrat::py {

namespace {

constexpr std::string_view parameter_names[] = {"body", "signature"};
constexpr Parameters parameters{"Client", "verify_callback", parameter_names, 2};

// The callback's fields, in the order the result dict lists them.
Result<Ref> callback_fields(const json::Value& document) {
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
        const json::Value* member = document.find(key.text);
        if (member == nullptr) continue;
        Ref value = new_text(member->is_string() ? member->as_string() : std::string_view());
        if (PyDict_SetItem(fields.get(), key.name, value.get()) != 0) return fail_with_pending();
    }
    return fields;
}

Result<Ref> run(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Arguments<2> bound;
    if (auto ok = bind_arguments(parameters, args, nargs, kwnames, bound); !ok) return fail(std::move(ok.error()));
    auto client = receiver<ClientObject>(self, Class::Client);
    if (!client) return fail(std::move(client.error()));
    const Ref hold_client = Ref::borrow(self);
    auto body = argument("body", text_view(bound[0]));
    if (!body) return fail(std::move(body.error()));
    auto signature = argument("signature", text_view(bound[1]));
    if (!signature) return fail(std::move(signature.error()));

    if (!signature_matches(*signature, sign((*client)->fields.sponsor_key.view(), *body))) {
        return fail(PyExc_RuntimeError, "Invalid callback signature");
    }
    auto document = json::parse_json(*body);
    if (!document) return fail(PyExc_RuntimeError, "Invalid JSON body: " + document.error().text());
    return callback_fields(document->root());
}

}  // namespace

PyObject* verify_callback(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&] { return run(self, args, nargs, kwnames); });
}

}  // namespace vemrat::py
