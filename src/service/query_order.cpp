#include "service/query_order.hpp"

#include "auth/freshness.hpp"
#include "auth/sign.hpp"
#include "config/base_url.hpp"
#include "config/client.hpp"
#include "python/binding.hpp"
#include "python/order_status.hpp"
#include "python/record.hpp"
#include "service/answer.hpp"
#include "service/percent_encode.hpp"

namespace vemrat::py {

namespace {

constexpr std::string_view parameter_names[] = {"order_id"};
constexpr Parameters parameters{"Client", "query_order", parameter_names, 1};

std::string status_url(const ClientFields& keys, const Freshness& freshness, std::string_view order_id) {
    std::string message;
    message.reserve(keys.community_key.view().size() + freshness.timestamp.size() + freshness.nonce.size() +
                    order_id.size());
    message.append(keys.community_key.view()).append(freshness.timestamp).append(freshness.nonce).append(order_id);
    const std::string signature = sign(keys.sponsor_key.view(), message);

    std::string url = base_url();
    url.reserve(url.size() + 160 + 3 * (keys.community_key.view().size() + order_id.size()));
    url.append("/alipayment/sponsor/order-status/?community_key=");
    percent_encode_into(url, keys.community_key.view());
    url.append("&timestamp=").append(freshness.timestamp);
    url.append("&nonce=").append(freshness.nonce);
    url.append("&signature=").append(signature);
    url.append("&order_id=");
    percent_encode_into(url, order_id);
    return url;
}

OrderStatusFields status_fields(const json::Value& data) {
    using service::int_field;
    using service::text_field;
    return {
        .order_id = std::string(text_field(data, "order_id")),
        .pay_status = int_field(data, "pay_status"),
        .pay_status_text = std::string(text_field(data, "pay_status_text")),
        .settle_status = int_field(data, "settle_status"),
        .settle_status_text = std::string(text_field(data, "settle_status_text")),
        .refund_status = int_field(data, "refund_status"),
        .refund_status_text = std::string(text_field(data, "refund_status_text")),
        .amount = std::string(text_field(data, "amount")),
        .settle_amount = std::string(text_field(data, "settle_amount")),
        .expired = std::string(text_field(data, "expired")),
        .fail_reason = std::string(text_field(data, "fail_reason")),
    };
}

Result<Ref> run(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Arguments<1> bound;
    if (auto ok = bind_arguments(parameters, args, nargs, kwnames, bound); !ok) return fail(std::move(ok.error()));
    auto client = receiver<ClientObject>(self, Class::Client);
    if (!client) return fail(std::move(client.error()));
    const Ref hold_client = Ref::borrow(self);
    auto order_id = argument("order_id", text_view(bound[0]));
    if (!order_id) return fail(std::move(order_id.error()));

    const Freshness freshness = take_freshness();
    const std::string url = status_url((*client)->fields, freshness, *order_id);

    auto answer = http_exchange(url, "GET", std::nullopt);
    if (!answer) return fail(std::move(answer.error()));
    auto envelope = decode_answer(*answer);
    if (!envelope) return fail(std::move(envelope.error()));
    auto result = make_order_status(status_fields(*envelope->data));
    if (!result) panic("could not create an OrderStatus: " + result.error().message());
    return result;
}

}  // namespace

PyObject* query_order(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&] { return run(self, args, nargs, kwnames); });
}

}  // namespace vemrat::py
