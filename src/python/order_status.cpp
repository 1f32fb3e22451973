#include "python/order_status.hpp"

#include "python/record.hpp"

namespace vemrat::py {

namespace {

using Object = OrderStatusObject;
using Fields = OrderStatusFields;
constexpr Class cls = Class::OrderStatus;

PyObject* order_status_repr(PyObject* self) {
    return guard([&]() -> Result<Ref> {
        auto object = receiver<Object>(self, cls);
        if (!object) return fail(std::move(object.error()));
        const Fields& fields = (*object)->fields;
        std::string text = "OrderStatus(order_id='";
        text.append(fields.order_id)
            .append("', pay_status=")
            .append(std::to_string(fields.pay_status))
            .append(", settle_status=")
            .append(std::to_string(fields.settle_status))
            .append(", refund_status=")
            .append(std::to_string(fields.refund_status))
            .append(")");
        return new_text(text);
    });
}

template <auto field>
constexpr PyGetSetDef text(const char* name) {
    return {name, text_getter<Object, cls, field>, nullptr, "", nullptr};
}

template <auto field>
constexpr PyGetSetDef code(const char* name) {
    return {name, int_getter<Object, cls, field>, nullptr, "", nullptr};
}

PyGetSetDef getters[] = {
    text<&Fields::order_id>("order_id"),
    code<&Fields::pay_status>("pay_status"),
    text<&Fields::pay_status_text>("pay_status_text"),
    code<&Fields::settle_status>("settle_status"),
    text<&Fields::settle_status_text>("settle_status_text"),
    code<&Fields::refund_status>("refund_status"),
    text<&Fields::refund_status_text>("refund_status_text"),
    text<&Fields::amount>("amount"),
    text<&Fields::settle_amount>("settle_amount"),
    text<&Fields::expired>("expired"),
    text<&Fields::fail_reason>("fail_reason"),
    {},
};

char documentation[] = "Order status returned by query_order.";

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_repr, reinterpret_cast<void*>(order_status_repr)},
    {Py_tp_getset, getters},
    {Py_tp_doc, documentation},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_record<Object>)},
    {},
};

PyType_Spec spec = {
    .name = "builtins.OrderStatus",
    .basicsize = sizeof(Object),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = slots,
};

}  // namespace

PyType_Spec& order_status_type_spec() { return spec; }

Result<Ref> make_order_status(OrderStatusFields fields) { return make_record<Object>(cls, std::move(fields)); }

}  // namespace vemrat::py
