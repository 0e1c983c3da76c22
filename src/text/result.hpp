#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace sorvel::text {

// Tag that carries an error into a Result without naming the value type, so parsers can write
// `return Failure{DecimalError::Empty};` whatever they return.
template <class E>
struct Failure {
    E error;
};

template <class E>
Failure(E) -> Failure<E>;

// Either a parsed value or the reason it could not be parsed. Expected failures travel through
// this instead of exceptions so the hot paths stay cheap and the callers decide what to raise.
template <class T, class E>
class Result {
  public:
    Result(const T& value) : state_(std::in_place_index<0>, value) {}
    Result(T&& value) : state_(std::in_place_index<0>, std::move(value)) {}

    template <class F>
        requires std::is_constructible_v<E, F&&>
    Result(Failure<F> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}

    static Result failure(E error) { return Result(Failure<E>{std::move(error)}); }

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T&& take() { return std::get<0>(std::move(state_)); }

    const E& error() const { return std::get<1>(state_); }

  private:
    std::variant<T, E> state_;
};

}  // namespace sorvel::text
