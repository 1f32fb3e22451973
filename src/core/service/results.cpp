#include "core/service/results.hpp"

#include "core/service/envelope.hpp"

namespace vemrat::core {

PaymentResultFields payment_result_fields(const json::Value& data) {
    return {
        .order_id = std::string(text_field(data, "order_id")),
        .pay_url = std::string(text_field(data, "pay_url")),
    };
}

OrderStatusFields order_status_fields(const json::Value& data) {
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

}  // namespace vemrat::core
