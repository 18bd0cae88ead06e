// Error values for the engine: nothing is thrown across its boundary, a
// failure is returned as a Result carrying the message shown to the caller.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace merrow {

struct Error {
    std::string message;
};

template <class T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Error error) : state_(std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

}  // namespace merrow
