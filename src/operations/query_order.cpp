// Client.query_order: a signed GET of the order-status endpoint, answered by an OrderStatus.
#include "classes/records.hpp"
#include "core/config/base_url.hpp"
#include "core/service/requests.hpp"
#include "core/service/results.hpp"
#include "operations/exchange.hpp"
#include "operations/method.hpp"
#include "python/convert.hpp"
#include "python/guard.hpp"

namespace vemrat::py {

namespace {

constexpr std::string_view parameter_names[] = {"order_id"};
constexpr Parameters parameters{"Client", "query_order", parameter_names, 1};

Result<Ref> run(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    VEMRAT_TRY_ASSIGN(const ClientCall<1> call, begin_client_call<1>(parameters, self, args, nargs, kwnames));
    VEMRAT_TRY_ASSIGN(const std::string_view order_id, argument("order_id", text_view(call.args[0])));
    const core::Freshness freshness = or_panic(core::take_freshness());
    const std::string url = or_panic(core::order_status_url(core::base_url(), *call.keys, freshness, order_id));

    VEMRAT_TRY_ASSIGN(const core::Envelope envelope, exchange(url, "GET", std::nullopt));
    return created_or_panic(make_order_status(core::order_status_fields(*envelope.data)), "an OrderStatus");
}

}  // namespace

PyObject* query_order(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&] { return run(self, args, nargs, kwnames); });
}

}  // namespace vemrat::py
