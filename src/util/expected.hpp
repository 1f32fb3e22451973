// vemrat::expected / vemrat::unexpected: std::expected where the standard
// library provides it (g++ 12 in C++23 mode). clang 14 cannot use libstdc++'s
// <expected>, so builds with it (the fuzzers) get a small stand-in with the
// subset of the interface this code base uses.
#pragma once

#include <version>

#if defined(__cpp_lib_expected)

#include <expected>

namespace vemrat {
using std::expected;
using std::unexpected;
}  // namespace vemrat

#else

#include <cstdlib>
#include <type_traits>
#include <utility>
#include <variant>

namespace vemrat {

template <class E>
class unexpected {
public:
    constexpr explicit unexpected(E error) : error_(std::move(error)) {}
    constexpr const E& error() const& noexcept { return error_; }
    constexpr E& error() & noexcept { return error_; }
    constexpr E&& error() && noexcept { return std::move(error_); }

private:
    E error_;
};

template <class E>
unexpected(E) -> unexpected<E>;

template <class T, class E>
class expected {
public:
    using value_type = T;
    using error_type = E;

    constexpr expected() requires std::is_default_constructible_v<T> : state_(std::in_place_index<0>) {}
    template <class U = T>
        requires std::is_constructible_v<T, U&&> && (!std::is_same_v<std::remove_cvref_t<U>, expected>) &&
                 (!std::is_same_v<std::remove_cvref_t<U>, unexpected<E>>)
    constexpr expected(U&& value) : state_(std::in_place_index<0>, std::forward<U>(value)) {}
    template <class G>
    constexpr expected(const unexpected<G>& failure) : state_(std::in_place_index<1>, failure.error()) {}
    template <class G>
    constexpr expected(unexpected<G>&& failure) : state_(std::in_place_index<1>, std::move(failure).error()) {}

    constexpr bool has_value() const noexcept { return state_.index() == 0; }
    constexpr explicit operator bool() const noexcept { return has_value(); }

    constexpr T& value() & { return checked_value(*this); }
    constexpr const T& value() const& { return checked_value(*this); }
    constexpr T&& value() && { return std::move(checked_value(*this)); }
    constexpr T& operator*() & noexcept { return std::get<0>(state_); }
    constexpr const T& operator*() const& noexcept { return std::get<0>(state_); }
    constexpr T&& operator*() && noexcept { return std::move(std::get<0>(state_)); }
    constexpr T* operator->() noexcept { return &std::get<0>(state_); }
    constexpr const T* operator->() const noexcept { return &std::get<0>(state_); }

    constexpr E& error() & noexcept { return std::get<1>(state_); }
    constexpr const E& error() const& noexcept { return std::get<1>(state_); }
    constexpr E&& error() && noexcept { return std::move(std::get<1>(state_)); }

    template <class U>
    constexpr T value_or(U&& fallback) const& {
        return has_value() ? **this : static_cast<T>(std::forward<U>(fallback));
    }

private:
    template <class Self>
    static constexpr auto& checked_value(Self& self) {
        if (!self.has_value()) std::abort();
        return std::get<0>(self.state_);
    }

    std::variant<T, E> state_;
};

}  // namespace vemrat

#endif
