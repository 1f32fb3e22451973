#include "service/query_order.hpp"

#include "config/client.hpp"
#include "python/binding.hpp"
#include "python/record.hpp"

namespace vemrat::py {

namespace {

constexpr std::string_view parameter_names[] = {"order_id"};
constexpr Parameters parameters{"Client", "query_order", parameter_names, 1};

Result<Ref> run(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Arguments<1> bound;
    if (auto ok = bind_arguments(parameters, args, nargs, kwnames, bound); !ok) return fail(std::move(ok.error()));
    auto client = receiver<ClientObject>(self, Class::Client);
    if (!client) return fail(std::move(client.error()));
    return fail(PyExc_RuntimeError, "query_order is not built yet");
}

}  // namespace

PyObject* query_order(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&] { return run(self, args, nargs, kwnames); });
}

}  // namespace vemrat::py
