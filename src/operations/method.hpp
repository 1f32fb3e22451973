// What every method of Client does first: bind its arguments and check its receiver.
#pragma once

#include "classes/client.hpp"
#include "classes/registry.hpp"
#include "core/try.hpp"
#include "python/binding.hpp"

#include <cstddef>

namespace vemrat::py {

template <std::size_t N>
struct ClientCall {
    // Held for the whole call: Python code that the call runs (urllib, a replaced urlopen) may
    // drop every other reference to the client while its keys are still being read.
    Ref hold;
    const core::Keys* keys;
    Arguments<N> args;  // borrowed from the call; null where a parameter was not given
};

// Binds the arguments, then checks that the receiver is a Client.
template <std::size_t N>
Result<ClientCall<N>> begin_client_call(const Parameters& parameters, PyObject* self, PyObject* const* args,
                                        Py_ssize_t nargs, PyObject* kwnames) {
    ClientCall<N> call;
    VEMRAT_TRY(bind_arguments(parameters, args, nargs, kwnames, call.args));
    VEMRAT_TRY_ASSIGN(const ClientObject* const client, receiver<ClientObject>(self, Class::Client));
    call.hold = Ref::borrow(self);
    call.keys = &client->fields;
    return call;
}

// A result record just created; failing to create one is an internal failure (the interpreter
// is out of memory).
inline Ref created_or_panic(Result<Ref> created, std::string_view record) {
    if (!created) panic("could not create " + std::string(record) + ": " + created.error().message());
    return std::move(*created);
}

}  // namespace vemrat::py
