#include "config/client.hpp"
#include "config/load_keys.hpp"
#include "config/working_space.hpp"
#include "python/binding.hpp"
#include "python/record.hpp"

#include <optional>

namespace vemrat::py {

namespace {

constexpr std::string_view parameter_names[] = {"community_key", "sponsor_key"};
constexpr Parameters parameters{"Client", "__new__", parameter_names, 0};

// A key argument: absent for None or a missing argument, else the text of a str.
Result<std::optional<std::string_view>> key_argument(std::string_view name, PyObject* value) {
    if (value == nullptr || value == Py_None) return std::optional<std::string_view>();
    auto text = argument(name, text_view(value));
    if (!text) return fail(std::move(text.error()));
    return std::optional<std::string_view>(*text);
}

Result<Ref> construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Arguments<2> bound;
    if (auto ok = bind_arguments(parameters, args, kwargs, bound); !ok) return fail(std::move(ok.error()));
    auto community_key = key_argument("community_key", bound[0]);
    if (!community_key) return fail(std::move(community_key.error()));
    auto sponsor_key = key_argument("sponsor_key", bound[1]);
    if (!sponsor_key) return fail(std::move(sponsor_key.error()));
    if (*community_key && *sponsor_key) {
        return make_instance<ClientObject>(type, ClientFields{SecretText(**community_key), SecretText(**sponsor_key)});
    }
    // Unless both are given, both keys come from the file; a key passed alone is not used.
    auto directory = find_working_space();
    if (!directory) return fail(std::move(directory.error()));
    auto keys = load_keys_from_file(*directory + "/auth_key.py");
    if (!keys) return fail(std::move(keys.error()));
    return make_instance<ClientObject>(type, std::move(*keys));
}

}  // namespace

PyObject* client_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard([&] { return construct(type, args, kwargs); });
}

}  // namespace vemrat::py
