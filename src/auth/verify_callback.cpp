#include "auth/verify_callback.hpp"

#include "config/client.hpp"
#include "python/binding.hpp"
#include "python/record.hpp"

namespace vemrat::py {

namespace {

constexpr std::string_view parameter_names[] = {"body", "signature"};
constexpr Parameters parameters{"Client", "verify_callback", parameter_names, 2};

Result<Ref> run(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Arguments<2> bound;
    if (auto ok = bind_arguments(parameters, args, nargs, kwnames, bound); !ok) return fail(std::move(ok.error()));
    auto client = receiver<ClientObject>(self, Class::Client);
    if (!client) return fail(std::move(client.error()));
    return fail(PyExc_RuntimeError, "verify_callback is not built yet");
}

}  // namespace

PyObject* verify_callback(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&] { return run(self, args, nargs, kwnames); });
}

}  // namespace vemrat::py
