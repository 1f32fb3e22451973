#include "auth/verify_callback.hpp"
#include "config/client.hpp"
#include "python/record.hpp"
#include "service/create_payment.hpp"
#include "service/query_order.hpp"

namespace vemrat::py {

namespace {

PyMethodDef methods[] = {
    {"create_payment", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(create_payment)),
     METH_FASTCALL | METH_KEYWORDS,
     "create_payment($self, amount, currency, recipient_account, notify_url, pay_mode=\"split\", return_url=None)\n"
     "--\n\n"
     "Create a payment order.\n\n"
     "pay_mode:\n"
     "  - \"split\"  (default): royalty split, requires recipient_account and\n"
     "    the merchant's Alipay app must have the royalty-split API enabled.\n"
     "  - \"direct\": direct payment, funds go straight to the merchant account.\n"
     "    recipient_account is ignored, no royalty-split permission needed."},
    {"query_order", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(query_order)),
     METH_FASTCALL | METH_KEYWORDS, "query_order($self, order_id)\n--\n\nQuery order status."},
    {"verify_callback", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(verify_callback)),
     METH_FASTCALL | METH_KEYWORDS, "verify_callback($self, body, signature)\n--\n\nVerify a callback from Vemrat."},
    {},
};

// Built once, kept for the life of the process.
const std::string& documentation() {
    static const std::string text = std::string("Client") + "(community_key=None, sponsor_key=None)" + "\n--\n\n";
    return text;
}

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(client_new)},
    {Py_tp_methods, methods},
    {Py_tp_doc, nullptr},  // filled in by client_type_spec()
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_record<ClientObject>)},
    {},
};

PyType_Spec spec = {
    .name = "builtins.Client",
    .basicsize = sizeof(ClientObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = slots,
};

}  // namespace

PyType_Spec& client_type_spec() {
    slots[2].pfunc = const_cast<char*>(documentation().c_str());
    return spec;
}

}  // namespace vemrat::py
