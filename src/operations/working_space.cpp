#include "operations/working_space.hpp"

#include "python/calls.hpp"
#include "python/convert.hpp"
#include "python/names.hpp"

#include <optional>
#include <string_view>

namespace vemrat::py {

namespace {

// An owned copy of the UTF-8 text of a str (or subclass).
Result<std::string> owned_text(PyObject* object) {
    VEMRAT_TRY_ASSIGN(const std::string_view text, text_view(object));
    return std::string(text);
}

// An ordinary failure (an Exception) becomes "no value" and is dropped. Anything else, such as
// KeyboardInterrupt or SystemExit, is passed on: it is not the lookup's to swallow.
template <class T>
Result<std::optional<T>> dropping_ordinary_failure(Result<T> result) {
    if (result) return std::optional<T>(std::move(*result));
    if (!result.error().is_ordinary()) return fail(std::move(result.error()));
    return std::nullopt;
}

// settings.WORKING_SPACE as text.
Result<std::string> working_space_setting(PyObject* settings) {
    VEMRAT_TRY_ASSIGN(const Ref value, get_attribute(settings, VEMRAT_NAME("WORKING_SPACE")));
    return owned_text(value.get());
}

// os.environ["IS_LAN"] as text.
Result<std::string> lan_variable(PyObject* os) {
    VEMRAT_TRY_ASSIGN(const Ref environ, get_attribute(os, VEMRAT_NAME("environ")));
    VEMRAT_TRY_ASSIGN(const Ref value, checked(PyObject_GetItem(environ.get(), VEMRAT_NAME("IS_LAN"))));
    return owned_text(value.get());
}

// os.path.dirname(sys.executable)
Result<std::string> interpreter_directory() {
    VEMRAT_TRY_ASSIGN(const Ref executable_object, lookup(VEMRAT_NAME("sys"), {VEMRAT_NAME("executable")}));
    VEMRAT_TRY_ASSIGN(const std::string executable, owned_text(executable_object.get()));
    VEMRAT_TRY_ASSIGN(const Ref dirname, lookup(VEMRAT_NAME("os"), {VEMRAT_NAME("path"), VEMRAT_NAME("dirname")}));
    VEMRAT_TRY_ASSIGN(const Ref directory, call(dirname.get(), new_text(executable).get()));
    return owned_text(directory.get());
}

// os.getcwd()
Result<std::string> current_directory() {
    VEMRAT_TRY_ASSIGN(const Ref getcwd, lookup(VEMRAT_NAME("os"), {VEMRAT_NAME("getcwd")}));
    VEMRAT_TRY_ASSIGN(const Ref directory, call(getcwd.get()));
    return owned_text(directory.get());
}

}  // namespace

Result<std::string> find_working_space() {
    // A failure to import django.conf or to get its settings is the caller's; one reading the
    // setting itself falls back.
    VEMRAT_TRY_ASSIGN(const Ref settings, lookup(VEMRAT_NAME("django.conf"), {VEMRAT_NAME("settings")}));
    VEMRAT_TRY_ASSIGN(std::optional<std::string> configured,
                      dropping_ordinary_failure(working_space_setting(settings.get())));
    if (configured) return std::move(*configured);

    // The flag is exactly "true", byte for byte; one that cannot be read counts as false.
    VEMRAT_TRY_ASSIGN(const Ref os, import_module(VEMRAT_NAME("os")));
    VEMRAT_TRY_ASSIGN(const std::optional<std::string> flag, dropping_ordinary_failure(lan_variable(os.get())));
    if (flag == "true") return interpreter_directory();
    return current_directory();
}

}  // namespace vemrat::py
