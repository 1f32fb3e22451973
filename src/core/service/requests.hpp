// The wire text of the two requests: the payment's form body and the order-status URL.
#pragma once

#include "core/auth/freshness.hpp"
#include "core/config/load_keys.hpp"

#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace vemrat::core {

inline constexpr std::string_view PAYMENT_PATH = "/alipayment/sponsor/pay/";
inline constexpr std::string_view ORDER_STATUS_PATH = "/alipayment/sponsor/order-status/";

// A payment's arguments, as converted from the call; the texts are borrowed.
struct PaymentOrder {
    double amount;
    std::string_view currency;
    std::string_view recipient_account;
    std::string_view notify_url;
    std::string_view pay_mode;
    std::optional<std::string_view> return_url;  // absent or empty: not sent
};

// Writes the form body into `body`, which must be empty. The body holds both keys: its capacity
// is reserved whole up front, so that no reallocation leaves an unwiped copy behind, and the
// caller wipes it.
void write_payment_form(std::string& body, const Keys& keys, const Freshness& freshness, const PaymentOrder& order);

// The signed order-status URL below `base`. The message signed is the community key, the
// timestamp, the nonce and the order id joined raw; in the URL the key and the id are
// percent-encoded. The only failure is the signature's (sign).
std::expected<std::string, std::string> order_status_url(std::string base, const Keys& keys,
                                                         const Freshness& freshness, std::string_view order_id);

}  // namespace vemrat::core
