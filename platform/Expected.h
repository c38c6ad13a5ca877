// The one way a fallible call answers: its value, or why it has none, in one line a person can
// read. [[nodiscard]], so a failure cannot be dropped without saying so. Exceptions stay where a
// contract has them (the C++ library's, and a programmer's error: std::logic_error).
//
//   Expected<std::string> read(...);          if (!text) return text.error();
//   Expected<void> write(...);                return {};  /  return Failure { "why" };
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace Platform {

// Why a call failed: one line, no trailing newline.
struct Failure {
    std::string reason;
};

template <typename T> class [[nodiscard]] Expected {
public:
    Expected(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    {
    }
    Expected(Failure failure)
        : m_state(std::in_place_index<1>, std::move(failure))
    {
    }
    template <typename U>
    requires(std::is_constructible_v<T,
                 U&&> && !std::is_same_v<std::decay_t<U>, Failure> && !std::is_same_v<std::decay_t<U>, Expected>)
        Expected(U&& value)
        : m_state(std::in_place_index<0>, T(std::forward<U>(value)))
    {
    }

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(m_state); }
    const T& value() const& { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    template <typename U> T valueOr(U&& fallback) const& { return ok() ? value() : T(std::forward<U>(fallback)); }

    // The reason; only for a failure.
    const std::string& error() const { return std::get<1>(m_state).reason; }
    // The failure, to hand on as another call's answer.
    Failure failure() const { return std::get<1>(m_state); }

private:
    std::variant<T, Failure> m_state;
};

template <> class [[nodiscard]] Expected<void> {
public:
    Expected() = default;
    Expected(Failure failure)
        : m_failed(true)
        , m_reason(std::move(failure.reason))
    {
    }

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return m_reason; }
    Failure failure() const { return { m_reason }; }

private:
    bool m_failed { false };
    std::string m_reason;
};

} // namespace Platform
