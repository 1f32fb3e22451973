#include "service/create_payment.hpp"

#include "config/client.hpp"
#include "python/binding.hpp"
#include "python/record.hpp"

namespace vemrat::py {

namespace {

constexpr std::string_view parameter_names[] = {"amount",     "currency", "recipient_account",
                                                "notify_url", "pay_mode", "return_url"};
constexpr Parameters parameters{"Client", "create_payment", parameter_names, 4};

Result<Ref> run(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Arguments<6> bound;
    if (auto ok = bind_arguments(parameters, args, nargs, kwnames, bound); !ok) return fail(std::move(ok.error()));
    auto client = receiver<ClientObject>(self, Class::Client);
    if (!client) return fail(std::move(client.error()));
    return fail(PyExc_RuntimeError, "create_payment is not built yet");
}

}  // namespace

PyObject* create_payment(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&] { return run(self, args, nargs, kwnames); });
}

}  // namespace vemrat::py
