// The service's answer, checked and decoded, for the two operations.
#pragma once

#include "python/error.hpp"
#include "service/envelope.hpp"
#include "service/http_exchange.hpp"

namespace vemrat::py {

// The envelope, or RuntimeError with its failure message.
inline Result<service::Envelope> decode_answer(const HttpAnswer& answer) {
    auto envelope = service::decode_envelope(answer.status, answer.body);
    if (!envelope) return fail(PyExc_RuntimeError, std::move(envelope.error()));
    return std::move(*envelope);
}

}  // namespace vemrat::py
