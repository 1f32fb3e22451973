// The network step of both requests: one blocking exchange through the interpreter's own
// urllib.request, and the answer decoded.
#pragma once

#include "core/service/envelope.hpp"
#include "python/error.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vemrat::py {

struct HttpAnswer {
    std::uint16_t status;
    std::string body;  // decoded as UTF-8, ill-formed parts replaced by U+FFFD
};

// An HTTPError is an answer like any other; every other exception is the failure, unchanged.
// `body` absent sends no data at all; present (even empty) sends it as the request data.
Result<HttpAnswer> http_exchange(std::string_view url, std::string_view method, std::optional<std::string_view> body);

// http_exchange, then the answer's envelope: the parsed document and its "data" value, or
// RuntimeError with the envelope's message (status, JSON, "detail", "data").
Result<core::Envelope> exchange(std::string_view url, std::string_view method, std::optional<std::string_view> body);

}  // namespace vemrat::py
