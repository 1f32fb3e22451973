// OrderStatus: what query_order returns.
#pragma once

#include "python/error.hpp"

#include <Python.h>

#include <cstdint>
#include <string>

namespace vemrat::py {

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

struct OrderStatusObject {
    PyObject_HEAD
    OrderStatusFields fields;
};

// Returns a new OrderStatus.
Result<Ref> make_order_status(OrderStatusFields fields);

}  // namespace vemrat::py
