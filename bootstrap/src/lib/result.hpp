#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "lib/error.hpp"
#include "lib/internal_fault.hpp"

namespace vantrel {

// The value of an operation or the failure that stopped it. Failures travel as
// values; nothing is thrown across modules.
template <class T, class E>
class [[nodiscard]] BasicResult {
  public:
    BasicResult(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    BasicResult(E failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(checked(true)); }
    const T& value() const& { return std::get<0>(checked(true)); }
    T&& value() && { return std::get<0>(std::move(checked(true))); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const E& error() const& { return std::get<1>(checked(false)); }
    E&& error() && { return std::get<1>(std::move(checked(false))); }

  private:
    using State = std::variant<T, E>;

    State& checked(bool want_value) {
        check(want_value);
        return state_;
    }
    const State& checked(bool want_value) const {
        check(want_value);
        return state_;
    }
    void check(bool want_value) const {
        if (ok() != want_value) {
            internal_fault(want_value ? "value taken from a failed result"
                                      : "error taken from a successful result");
        }
    }

    State state_;
};

// Success without a value, or a failure.
template <class E>
class [[nodiscard]] BasicResult<void, E> {
  public:
    BasicResult() = default;
    BasicResult(E failure) : failure_(std::move(failure)) {}

    bool ok() const { return !failure_.has_value(); }
    explicit operator bool() const { return ok(); }

    const E& error() const& {
        if (ok())
            internal_fault("error taken from a successful result");
        return *failure_;
    }
    E&& error() && {
        if (ok())
            internal_fault("error taken from a successful result");
        return std::move(*failure_);
    }

  private:
    std::optional<E> failure_;
};

// Operations of the engine and the front ends fail with a stage error.
template <class T>
using Result = BasicResult<T, Error>;
using Status = Result<void>;

// Shared file and system routines fail with a plain input/output failure; their
// caller chooses the stage.
template <class T>
using IoResult = BasicResult<T, IoError>;
using IoStatus = IoResult<void>;

// Gives a failed IoResult the caller's stage.
template <class T>
Result<T> with_stage(Stage stage, IoResult<T>&& result) {
    if (!result)
        return Error::from_io(stage, result.error());
    if constexpr (std::is_void_v<T>) {
        return {};
    } else {
        return std::move(result).value();
    }
}

}  // namespace vantrel
