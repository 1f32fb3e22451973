// Client.create_payment: the form body POSTed to the payment endpoint, answered by a PaymentResult.
#include "classes/records.hpp"
#include "core/config/base_url.hpp"
#include "core/service/requests.hpp"
#include "core/service/results.hpp"
#include "operations/exchange.hpp"
#include "operations/method.hpp"
#include "python/convert.hpp"
#include "python/guard.hpp"

namespace vemrat::py {

namespace {

constexpr std::string_view parameter_names[] = {"amount",     "currency", "recipient_account",
                                                "notify_url", "pay_mode", "return_url"};
constexpr Parameters parameters{"Client", "create_payment", parameter_names, 4};

// The arguments in their conversion order; the texts are borrowed from the argument objects.
Result<core::PaymentOrder> convert(const Arguments<6>& bound) {
    core::PaymentOrder order{
        .amount = 0, .currency = {}, .recipient_account = {}, .notify_url = {}, .pay_mode = "split", .return_url = {}};
    VEMRAT_TRY_ASSIGN(order.amount, argument("amount", float_value(bound[0])));
    VEMRAT_TRY_ASSIGN(order.currency, argument("currency", text_view(bound[1])));
    VEMRAT_TRY_ASSIGN(order.recipient_account, argument("recipient_account", text_view(bound[2])));
    VEMRAT_TRY_ASSIGN(order.notify_url, argument("notify_url", text_view(bound[3])));
    if (bound[4] != nullptr) {
        VEMRAT_TRY_ASSIGN(order.pay_mode, argument("pay_mode", text_view(bound[4])));
    }
    if (bound[5] != nullptr && bound[5] != Py_None) {
        VEMRAT_TRY_ASSIGN(order.return_url, argument("return_url", text_view(bound[5])));
    }
    return order;
}

Result<Ref> run(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    VEMRAT_TRY_ASSIGN(const ClientCall<6> call, begin_client_call<6>(parameters, self, args, nargs, kwnames));
    VEMRAT_TRY_ASSIGN(const core::PaymentOrder order, convert(call.args));
    const core::Freshness freshness = or_panic(core::take_freshness());

    std::string body;
    const core::WipeOnExit wiped(body);
    core::write_payment_form(body, *call.keys, freshness, order);
    const std::string url = core::base_url().append(core::PAYMENT_PATH);

    VEMRAT_TRY_ASSIGN(const core::Envelope envelope, exchange(url, "POST", body));
    return created_or_panic(make_payment_result(core::payment_result_fields(*envelope.data)), "a PaymentResult");
}

}  // namespace

PyObject* create_payment(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&] { return run(self, args, nargs, kwnames); });
}

}  // namespace vemrat::py
