#include "classes/client.hpp"

#include "classes/record.hpp"
#include "core/texts.hpp"
#include "python/class_spec.hpp"

namespace vemrat::py {

namespace {

template <auto method>
constexpr PyMethodDef method_entry(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method)), METH_FASTCALL | METH_KEYWORDS,
            doc};
}

PyMethodDef methods[] = {
    method_entry<create_payment>("create_payment", texts::create_payment_doc),
    method_entry<query_order>("query_order", texts::query_order_doc),
    method_entry<verify_callback>("verify_callback", texts::verify_callback_doc),
    {},
};

ClassSpec client_class{texts::client_type, sizeof(ClientObject), texts::client_doc, dealloc_record<ClientObject>,
                       std::array{
                           PyType_Slot{Py_tp_new, reinterpret_cast<void*>(new_client)},
                           PyType_Slot{Py_tp_methods, methods},
                       }};

}  // namespace

PyType_Spec& client_type_spec() { return client_class.spec(); }

}  // namespace vemrat::py
