#include "classes/records.hpp"

#include "classes/record.hpp"
#include "core/text/fill.hpp"
#include "core/texts.hpp"
#include "python/class_spec.hpp"

namespace vemrat::py {

namespace {

using Object = PaymentResultObject;
using Fields = core::PaymentResultFields;
constexpr Class cls = Class::PaymentResult;

PyObject* payment_result_repr(PyObject* self) {
    return guard([&]() -> Result<Ref> {
        VEMRAT_TRY_ASSIGN(const Object* const object, receiver<Object>(self, cls));
        return new_text(core::fill(texts::payment_result_repr, {object->fields.order_id, object->fields.pay_url}));
    });
}

PyGetSetDef getters[] = {
    {"order_id", text_getter<Object, cls, &Fields::order_id>, nullptr, "", nullptr},
    {"pay_url", text_getter<Object, cls, &Fields::pay_url>, nullptr, "", nullptr},
    {},
};

ClassSpec payment_result_class{texts::payment_result_type, sizeof(Object), texts::payment_result_doc,
                               dealloc_record<Object>,
                               std::array{
                                   PyType_Slot{Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
                                   PyType_Slot{Py_tp_repr, reinterpret_cast<void*>(payment_result_repr)},
                                   PyType_Slot{Py_tp_getset, getters},
                               }};

}  // namespace

PyType_Spec& payment_result_type_spec() { return payment_result_class.spec(); }

Result<Ref> make_payment_result(Fields fields) { return make_record<Object>(cls, std::move(fields)); }

}  // namespace vemrat::py
