#include "core/service/requests.hpp"

#include "core/auth/sign.hpp"
#include "core/service/amount_text.hpp"
#include "core/text/percent_encode.hpp"
#include "core/try.hpp"

namespace vemrat::core {

void write_payment_form(std::string& body, const Keys& keys, const Freshness& freshness, const PaymentOrder& order) {
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

std::expected<std::string, std::string> order_status_url(std::string base, const Keys& keys,
                                                         const Freshness& freshness, std::string_view order_id) {
    std::string message;
    message.reserve(keys.community_key.view().size() + freshness.timestamp.size() + freshness.nonce.size() +
                    order_id.size());
    message.append(keys.community_key.view()).append(freshness.timestamp).append(freshness.nonce).append(order_id);
    VEMRAT_TRY_ASSIGN(const std::string signature, sign(keys.sponsor_key.view(), message));

    std::string url = std::move(base);
    url.reserve(url.size() + 160 + 3 * (keys.community_key.view().size() + order_id.size()));
    url.append(ORDER_STATUS_PATH).append("?community_key=");
    percent_encode_into(url, keys.community_key.view());
    url.append("&timestamp=").append(freshness.timestamp);
    url.append("&nonce=").append(freshness.nonce);
    url.append("&signature=").append(signature);
    url.append("&order_id=");
    percent_encode_into(url, order_id);
    return url;
}

}  // namespace vemrat::core
