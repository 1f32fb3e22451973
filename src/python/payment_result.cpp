#include "python/payment_result.hpp"

#include "python/record.hpp"

namespace vemrat::py {

namespace {

using Object = PaymentResultObject;
constexpr Class cls = Class::PaymentResult;

PyObject* payment_result_repr(PyObject* self) {
    return guard([&]() -> Result<Ref> {
        auto object = receiver<Object>(self, cls);
        if (!object) return fail(std::move(object.error()));
        const PaymentResultFields& fields = (*object)->fields;
        std::string text = "PaymentResult(order_id='";
        text.append(fields.order_id).append("', pay_url='").append(fields.pay_url).append("')");
        return new_text(text);
    });
}

PyGetSetDef getters[] = {
    {"order_id", text_getter<Object, cls, &PaymentResultFields::order_id>, nullptr, "", nullptr},
    {"pay_url", text_getter<Object, cls, &PaymentResultFields::pay_url>, nullptr, "", nullptr},
    {},
};

char documentation[] = "Payment result returned by create_payment.";

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_repr, reinterpret_cast<void*>(payment_result_repr)},
    {Py_tp_getset, getters},
    {Py_tp_doc, documentation},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_record<Object>)},
    {},
};

PyType_Spec spec = {
    .name = "builtins.PaymentResult",
    .basicsize = sizeof(Object),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = slots,
};

}  // namespace

PyType_Spec& payment_result_type_spec() { return spec; }

Result<Ref> make_payment_result(PaymentResultFields fields) { return make_record<Object>(cls, std::move(fields)); }

}  // namespace vemrat::py
