// What the two records hold, read from the "data" value of an answer by the field rules.
#pragma once

#include "core/json/value.hpp"

#include <cstdint>
#include <string>

namespace vemrat::core {

struct PaymentResultFields {
    std::string order_id;
    std::string pay_url;
};

struct OrderStatusFields {
    std::string order_id;
    std::int32_t pay_status = 0;
    std::string pay_status_text;
    std::int32_t settle_status = 0;
    std::string settle_status_text;
    std::int32_t refund_status = 0;
    std::string refund_status_text;
    std::string amount;
    std::string settle_amount;
    std::string expired;
    std::string fail_reason;
};

// The attributes in the order the records list them; a missing or mistyped member is "" or 0.
PaymentResultFields payment_result_fields(const json::Value& data);
OrderStatusFields order_status_fields(const json::Value& data);

}  // namespace vemrat::core
