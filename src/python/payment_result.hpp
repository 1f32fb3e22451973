// PaymentResult: what create_payment returns.
#pragma once

#include "python/error.hpp"

#include <Python.h>

#include <string>

namespace vemrat::py {

struct PaymentResultFields {
    std::string order_id;
    std::string pay_url;
};

struct PaymentResultObject {
    PyObject_HEAD
    PaymentResultFields fields;
};

// Returns a new PaymentResult.
Result<Ref> make_payment_result(PaymentResultFields fields);

}  // namespace vemrat::py
