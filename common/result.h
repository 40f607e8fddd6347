// How a step below main reports back: what happened, and the message that
// main prints for it where the program has always printed one. Steps below
// main print nothing themselves; main prints each message on the stream its
// program has always used for it, in the order the steps ran.
#pragma once

#include <string>

template <typename Code>
struct Result {
  Code code{};
  std::string message;  // empty: nothing to print
};
