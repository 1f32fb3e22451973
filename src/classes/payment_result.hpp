// PaymentResult: what create_payment returns.
#pragma once

#include "core/service/results.hpp"
#include "python/error.hpp"

#include <Python.h>

namespace vemrat::py {

struct PaymentResultObject {
    PyObject_HEAD
    core::PaymentResultFields fields;
};

// Returns a new PaymentResult; a failure is the interpreter's (out of memory).
Result<Ref> make_payment_result(core::PaymentResultFields fields);

}  // namespace vemrat::py
