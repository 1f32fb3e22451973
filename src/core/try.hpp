// Propagation of failures held in std::expected, so that a function reads as the list of its
// steps. Used on both sides of the module: the pure core (failures as text) and the Python
// boundary (failures as PythonError); the error of the step must convert to the caller's.
#pragma once

#include <expected>
#include <utility>

#define VEMRAT_TRY_JOIN_(a, b) a##b
#define VEMRAT_TRY_RESULT_(line) VEMRAT_TRY_JOIN_(vemrat_try_result_, line)

// VEMRAT_TRY(step()): returns the step's error from the calling function if the step failed.
#define VEMRAT_TRY(...)                                                                          \
    do {                                                                                         \
        auto&& vemrat_try_result_ = (__VA_ARGS__);                                               \
        if (!vemrat_try_result_) return std::unexpected(std::move(vemrat_try_result_).error()); \
    } while (false)

// VEMRAT_TRY_ASSIGN(Ref module, import_module(name)): returns the step's error from the calling
// function if the step failed, else moves its value into the declared variable. One per line.
#define VEMRAT_TRY_ASSIGN(declaration, ...)                                                            \
    auto&& VEMRAT_TRY_RESULT_(__LINE__) = (__VA_ARGS__);                                               \
    if (!VEMRAT_TRY_RESULT_(__LINE__)) return std::unexpected(std::move(VEMRAT_TRY_RESULT_(__LINE__)).error()); \
    declaration = std::move(*VEMRAT_TRY_RESULT_(__LINE__))
