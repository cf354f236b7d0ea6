#pragma once

#include <optional>
#include <utility>
#include <variant>

#include "lib/error.hpp"
#include "lib/internal_fault.hpp"

namespace vantrel {

// The value of an operation or the stage error that stopped it. Failures travel
// as values; nothing is thrown across modules.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(checked_value()); }
    const T& value() const& { return std::get<0>(checked_value()); }
    T&& value() && { return std::get<0>(std::move(checked_value())); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const Error& error() const& { return std::get<1>(checked_error()); }
    Error&& error() && { return std::get<1>(std::move(checked_error())); }

private:
    using State = std::variant<T, Error>;

    State& checked_value() {
        if (!ok()) internal_fault("value taken from a failed result");
        return state_;
    }
    const State& checked_value() const {
        if (!ok()) internal_fault("value taken from a failed result");
        return state_;
    }
    State& checked_error() {
        if (ok()) internal_fault("error taken from a successful result");
        return state_;
    }
    const State& checked_error() const {
        if (ok()) internal_fault("error taken from a successful result");
        return state_;
    }

    State state_;
};

// Success without a value, or a stage error.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }

    const Error& error() const& {
        if (ok()) internal_fault("error taken from a successful result");
        return *error_;
    }
    Error&& error() && {
        if (ok()) internal_fault("error taken from a successful result");
        return std::move(*error_);
    }

private:
    std::optional<Error> error_;
};

using Status = Result<void>;

}  // namespace vantrel
