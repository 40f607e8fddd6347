// What a step below main hands back: its value, or why there is none.
//
// Steps print nothing themselves. A failure carries the kind its caller
// decides by and a message as plain text (no markup, no line end); the
// program puts it into its page or stream where it prints it, in the order
// the steps ran. TRY(step) hands a failure on to the caller and otherwise
// gives the step's value, so a sequence of steps reads as a sequence.
#pragma once

#include <string>
#include <utility>
#include <variant>

template <typename Kind>
struct Failure {
  Kind kind;
  std::string message;
};

template <typename T, typename Kind>
class [[nodiscard]] Result {
 public:
  Result(T value) : held_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure<Kind> failure) : held_(std::in_place_index<1>, std::move(failure)) {}

  bool Ok() const { return held_.index() == 0; }
  const T& Value() const { return std::get<0>(held_); }
  T& Value() { return std::get<0>(held_); }
  const Failure<Kind>& Fault() const { return std::get<1>(held_); }
  // The failure's message; empty for a value.
  std::string Message() const { return Ok() ? std::string() : Fault().message; }

 private:
  std::variant<T, Failure<Kind>> held_;
};

// The value of a step that has nothing to hand back but that it succeeded.
struct Done {};

// The value of `expression` (a Result), or its failure returned from the
// calling function, whose Result has the same Kind.
#define TRY(expression)                              \
  ({                                                 \
    auto tryResult_ = (expression);                  \
    if (!tryResult_.Ok()) return tryResult_.Fault(); \
    std::move(tryResult_.Value());                   \
  })
