// Client(community_key=None, sponsor_key=None): both keys as given, or both from auth_key.py.
#include "classes/client.hpp"
#include "classes/record.hpp"
#include "core/config/load_keys.hpp"
#include "operations/working_space.hpp"
#include "python/binding.hpp"
#include "python/unlocked.hpp"

#include <optional>

namespace vemrat::py {

namespace {

constexpr std::string_view parameter_names[] = {"community_key", "sponsor_key"};
constexpr Parameters parameters{"Client", "__new__", parameter_names, 0};

// A key argument: absent for None or a missing argument, else the text of a str.
Result<std::optional<std::string_view>> key_argument(std::string_view name, PyObject* value) {
    if (value == nullptr || value == Py_None) return std::nullopt;
    return argument(name, text_view(value));
}

// Both keys from the key file in the working space; RuntimeError with the file's message. The
// read may block (a file on NFS or FUSE): the other threads run meanwhile, and an exception that a
// signal handler raises (KeyboardInterrupt) ends the read and reaches the caller.
Result<core::Keys> keys_from_file() {
    VEMRAT_TRY_ASSIGN(const std::string directory, find_working_space());
    const std::string path = directory + "/auth_key.py";
    bool interrupted = false;
    auto keys = run_unlocked(interrupted, [&path](const core::AfterSignal& after_signal) {
        return core::load_keys(path, after_signal);
    });
    if (interrupted) return fail_with_pending();
    if (!keys) return fail(PyExc_RuntimeError, std::move(keys.error()));
    return std::move(*keys);
}

Result<Ref> construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Arguments<2> bound;
    VEMRAT_TRY(bind_arguments(parameters, args, kwargs, bound));
    VEMRAT_TRY_ASSIGN(const auto community_key, key_argument("community_key", bound[0]));
    VEMRAT_TRY_ASSIGN(const auto sponsor_key, key_argument("sponsor_key", bound[1]));
    if (community_key && sponsor_key) {
        return make_instance<ClientObject>(type, core::Keys{core::SecretText(*community_key),
                                                            core::SecretText(*sponsor_key)});
    }
    // Unless both are given, both keys come from the file; a key passed alone is not used.
    VEMRAT_TRY_ASSIGN(core::Keys keys, keys_from_file());
    return make_instance<ClientObject>(type, std::move(keys));
}

}  // namespace

PyObject* new_client(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard([&] { return construct(type, args, kwargs); });
}

}  // namespace vemrat::py
