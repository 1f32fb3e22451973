// The two records: what create_payment and query_order return.
#pragma once

#include "core/service/results.hpp"
#include "python/error.hpp"
#include "python/instance.hpp"

namespace vemrat::py {

using PaymentResultObject = Instance<core::PaymentResultFields>;
using OrderStatusObject = Instance<core::OrderStatusFields>;

// Return a new record; a failure is the interpreter's (out of memory).
Result<Ref> make_payment_result(core::PaymentResultFields fields);
Result<Ref> make_order_status(core::OrderStatusFields fields);

}  // namespace vemrat::py
