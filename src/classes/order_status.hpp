// OrderStatus: what query_order returns.
#pragma once

#include "core/service/results.hpp"
#include "python/error.hpp"

#include <Python.h>

namespace vemrat::py {

struct OrderStatusObject {
    PyObject_HEAD
    core::OrderStatusFields fields;
};

// Returns a new OrderStatus; a failure is the interpreter's (out of memory).
Result<Ref> make_order_status(core::OrderStatusFields fields);

}  // namespace vemrat::py
