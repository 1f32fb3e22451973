#include "classes/records.hpp"

#include "classes/record.hpp"
#include "core/text/fill.hpp"
#include "core/texts.hpp"
#include "python/class_spec.hpp"

namespace vemrat::py {

namespace {

using Object = OrderStatusObject;
using Fields = core::OrderStatusFields;
constexpr Class cls = Class::OrderStatus;

PyObject* order_status_repr(PyObject* self) {
    return guard([&]() -> Result<Ref> {
        VEMRAT_TRY_ASSIGN(const Object* const object, receiver<Object>(self, cls));
        const Fields& fields = object->fields;
        return new_text(core::fill(texts::order_status_repr,
                                   {fields.order_id, std::to_string(fields.pay_status),
                                    std::to_string(fields.settle_status), std::to_string(fields.refund_status)}));
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

ClassSpec order_status_class{texts::order_status_type, sizeof(Object), texts::order_status_doc, dealloc_record<Object>,
                             std::array{
                                 PyType_Slot{Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
                                 PyType_Slot{Py_tp_repr, reinterpret_cast<void*>(order_status_repr)},
                                 PyType_Slot{Py_tp_getset, getters},
                             }};

}  // namespace

PyType_Spec& order_status_type_spec() { return order_status_class.spec(); }

Result<Ref> make_order_status(Fields fields) { return make_record<Object>(cls, std::move(fields)); }

}  // namespace vemrat::py
