#include "service/create_payment.hpp"

#include "auth/freshness.hpp"
#include "config/base_url.hpp"
#include "config/client.hpp"
#include "python/binding.hpp"
#include "python/payment_result.hpp"
#include "python/record.hpp"
#include "service/amount_text.hpp"
#include "service/answer.hpp"
#include "service/percent_encode.hpp"


#include <optional>

namespace vemrat::py {

namespace {

constexpr std::string_view parameter_names[] = {"amount",     "currency", "recipient_account",
                                                "notify_url", "pay_mode", "return_url"};
constexpr Parameters parameters{"Client", "create_payment", parameter_names, 4};

struct Order {
    double amount;
    std::string_view currency;
    std::string_view recipient_account;
    std::string_view notify_url;
    std::string_view pay_mode;
    std::optional<std::string_view> return_url;
};

// The arguments in their conversion order; the views borrow from the argument objects.
Result<Order> convert(const Arguments<6>& bound) {
    auto amount = argument("amount", float_value(bound[0]));
    if (!amount) return fail(std::move(amount.error()));
    auto currency = argument("currency", text_view(bound[1]));
    if (!currency) return fail(std::move(currency.error()));
    auto recipient_account = argument("recipient_account", text_view(bound[2]));
    if (!recipient_account) return fail(std::move(recipient_account.error()));
    auto notify_url = argument("notify_url", text_view(bound[3]));
    if (!notify_url) return fail(std::move(notify_url.error()));
    std::string_view pay_mode = "split";
    if (bound[4] != nullptr) {
        auto given = argument("pay_mode", text_view(bound[4]));
        if (!given) return fail(std::move(given.error()));
        pay_mode = *given;
    }
    std::optional<std::string_view> return_url;
    if (bound[5] != nullptr && bound[5] != Py_None) {
        auto given = argument("return_url", text_view(bound[5]));
        if (!given) return fail(std::move(given.error()));
        return_url = *given;
    }
    return Order{*amount, *currency, *recipient_account, *notify_url, pay_mode, return_url};
}

// The body holds the sponsor key: its capacity is reserved whole up front so that no
// reallocation leaves an unwiped copy behind, and the caller wipes it.
void form_body(std::string& body, const ClientFields& keys, const Freshness& freshness, const Order& order) {
    const std::string amount = amount_text(order.amount);
    // 192 covers the field names, the timestamp and the nonce; an encoded byte takes at most 3.
    body.reserve(192 + 3 * (keys.community_key.view().size() + keys.sponsor_key.view().size() + amount.size() +
                            order.currency.size() + order.recipient_account.size() + order.notify_url.size() +
                            order.pay_mode.size() + order.return_url.value_or("").size()));
    body.append("community_key=");
    percent_encode_into(body, keys.community_key.view());
    body.append("&sponsor_key=");
    percent_encode_into(body, keys.sponsor_key.view());
    body.append("&timestamp=").append(freshness.timestamp);
    body.append("&nonce=").append(freshness.nonce);
    body.append("&amount=");
    percent_encode_into(body, amount);
    body.append("&currency=");
    percent_encode_into(body, order.currency);
    body.append("&recipient_account=");
    percent_encode_into(body, order.recipient_account);
    body.append("&user_notify_url=");
    percent_encode_into(body, order.notify_url);
    body.append("&pay_mode=");
    percent_encode_into(body, order.pay_mode);
    if (order.return_url && !order.return_url->empty()) {
        body.append("&return_url=");
        percent_encode_into(body, *order.return_url);
    }
}

Result<Ref> run(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Arguments<6> bound;
    if (auto ok = bind_arguments(parameters, args, nargs, kwnames, bound); !ok) return fail(std::move(ok.error()));
    auto client = receiver<ClientObject>(self, Class::Client);
    if (!client) return fail(std::move(client.error()));
    const Ref hold_client = Ref::borrow(self);
    auto order = convert(bound);
    if (!order) return fail(std::move(order.error()));

    const Freshness freshness = take_freshness();
    std::string body;
    const WipeOnExit wiped(body);
    form_body(body, (*client)->fields, freshness, *order);
    const std::string url = base_url().append("/alipayment/sponsor/pay/");

    auto answer = http_exchange(url, "POST", body);
    if (!answer) return fail(std::move(answer.error()));
    auto envelope = decode_answer(*answer);
    if (!envelope) return fail(std::move(envelope.error()));
    const json::Value& data = *envelope->data;
    auto result = make_payment_result({std::string(service::text_field(data, "order_id")),
                                       std::string(service::text_field(data, "pay_url"))});
    if (!result) panic("could not create a PaymentResult: " + result.error().message());
    return result;
}

}  // namespace

PyObject* create_payment(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&] { return run(self, args, nargs, kwnames); });
}

}  // namespace vemrat::py
