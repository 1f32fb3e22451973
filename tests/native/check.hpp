// A small table-friendly test harness for the pure code: TEST_CASE registers a
// function, CHECK and CHECK_EQ record failures with the values involved and let
// the case go on, so one run reports every failing row of a table.
#pragma once

#include <concepts>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace check {

struct Case {
    const char* name;
    void (*run)();
};

std::vector<Case>& registry();
void record_failure(const char* file, int line, const std::string& what);

struct Register {
    Register(const char* name, void (*run)()) { registry().push_back({name, run}); }
};

// Printable form of a value in a failure message; strings are shown with escapes.
std::string show_text(std::string_view text);

template <class T>
std::string show(const T& value) {
    if constexpr (std::convertible_to<const T&, std::string_view>) {
        return show_text(std::string_view(value));
    } else if constexpr (std::same_as<T, bool>) {
        return value ? "true" : "false";
    } else if constexpr (requires(std::ostream& out) { out << value; }) {
        std::ostringstream out;
        out.precision(17);
        out << value;
        return out.str();
    } else {
        return "<value>";
    }
}

template <class A, class B>
void expect_eq(const A& actual, const B& expected, const char* actual_text, const char* expected_text,
               const char* file, int line, const std::string& context) {
    if (actual == expected) return;
    std::string what = std::string("CHECK_EQ(") + actual_text + ", " + expected_text + ")\n    actual:   " +
                       show(actual) + "\n    expected: " + show(expected);
    if (!context.empty()) what += "\n    case:     " + context;
    record_failure(file, line, what);
}

// Text describing the current table row, shown with every failure inside it.
std::string& context();

struct Scope {
    std::string saved;
    explicit Scope(std::string row) : saved(context()) { context() = std::move(row); }
    ~Scope() { context() = saved; }
};

}  // namespace check

#define CHECK_CONCAT2(a, b) a##b
#define CHECK_CONCAT(a, b) CHECK_CONCAT2(a, b)

#define TEST_CASE(name)                                                \
    static void name();                                                \
    static const ::check::Register CHECK_CONCAT(name, _registration){#name, name}; \
    static void name()

#define CHECK(condition)                                                                     \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::string what_ = "CHECK(" #condition ")";                                     \
            if (!::check::context().empty()) what_ += "\n    case:     " + ::check::context(); \
            ::check::record_failure(__FILE__, __LINE__, what_);                              \
        }                                                                                    \
    } while (false)

#define CHECK_EQ(actual, expected) \
    ::check::expect_eq((actual), (expected), #actual, #expected, __FILE__, __LINE__, ::check::context())

// Labels every failure inside the enclosing block with a description of the row.
#define ROW(description) const ::check::Scope CHECK_CONCAT(row_scope_, __LINE__){(description)}
