#include "config/working_space.hpp"

#include "python/calls.hpp"
#include "python/convert.hpp"
#include "python/names.hpp"

#include <optional>
#include <string_view>

namespace vemrat::py {

namespace {

// An owned copy of the UTF-8 text of a str (or subclass).
Result<std::string> owned_text(PyObject* object) {
    auto text = text_view(object);
    if (!text) return fail(std::move(text.error()));
    return std::string(*text);
}

// An ordinary failure (an Exception) becomes "no value" and is dropped. Anything else, such as
// KeyboardInterrupt or SystemExit, is passed on: it is not the lookup's to swallow.
template <class T>
Result<std::optional<T>> dropping_ordinary_failure(Result<T> result) {
    if (result) return std::optional<T>(std::move(*result));
    if (!result.error().is_ordinary()) return fail(std::move(result.error()));
    return std::optional<T>();
}

// settings.WORKING_SPACE as text.
Result<std::string> working_space_setting(PyObject* settings) {
    auto value = get_attribute(settings, VEMRAT_NAME("WORKING_SPACE"));
    if (!value) return fail(std::move(value.error()));
    return owned_text(value->get());
}

// settings.WORKING_SPACE, if it can be read as text. A failure of the import or of "settings"
// is the caller's.
Result<std::optional<std::string>> django_working_space() {
    auto conf = import_module(VEMRAT_NAME("django.conf"));
    if (!conf) return fail(std::move(conf.error()));
    auto settings = get_attribute(conf->get(), VEMRAT_NAME("settings"));
    if (!settings) return fail(std::move(settings.error()));
    return dropping_ordinary_failure(working_space_setting(settings->get()));
}

// os.environ["IS_LAN"] as text.
Result<std::string> lan_variable(PyObject* os) {
    auto environ = get_attribute(os, VEMRAT_NAME("environ"));
    if (!environ) return fail(std::move(environ.error()));
    Ref value = Ref::steal(PyObject_GetItem(environ->get(), VEMRAT_NAME("IS_LAN")));
    if (!value) return fail_with_pending();
    return owned_text(value.get());
}

// os.path.dirname(sys.executable)
Result<std::string> interpreter_directory() {
    auto sys = import_module(VEMRAT_NAME("sys"));
    if (!sys) return fail(std::move(sys.error()));
    auto executable_object = get_attribute(sys->get(), VEMRAT_NAME("executable"));
    if (!executable_object) return fail(std::move(executable_object.error()));
    auto executable = owned_text(executable_object->get());
    if (!executable) return fail(std::move(executable.error()));

    auto os = import_module(VEMRAT_NAME("os"));
    if (!os) return fail(std::move(os.error()));
    auto path = get_attribute(os->get(), VEMRAT_NAME("path"));
    if (!path) return fail(std::move(path.error()));
    auto dirname = get_attribute(path->get(), VEMRAT_NAME("dirname"));
    if (!dirname) return fail(std::move(dirname.error()));
    Ref argument = new_text(*executable);
    Ref directory = Ref::steal(PyObject_CallOneArg(dirname->get(), argument.get()));
    if (!directory) return fail_with_pending();
    return owned_text(directory.get());
}

// os.getcwd()
Result<std::string> current_directory() {
    auto os = import_module(VEMRAT_NAME("os"));
    if (!os) return fail(std::move(os.error()));
    auto getcwd = get_attribute(os->get(), VEMRAT_NAME("getcwd"));
    if (!getcwd) return fail(std::move(getcwd.error()));
    Ref directory = Ref::steal(PyObject_CallNoArgs(getcwd->get()));
    if (!directory) return fail_with_pending();
    return owned_text(directory.get());
}

}  // namespace

Result<std::string> find_working_space() {
    auto configured = django_working_space();
    if (!configured) return fail(std::move(configured.error()));
    if (*configured) return std::move(**configured);

    auto os = import_module(VEMRAT_NAME("os"));
    if (!os) return fail(std::move(os.error()));
    // Exactly "true", byte for byte; a flag that cannot be read counts as false.
    auto flag = dropping_ordinary_failure(lan_variable(os->get()));
    if (!flag) return fail(std::move(flag.error()));
    if (*flag == "true") return interpreter_directory();
    return current_directory();
}

}  // namespace vemrat::py
