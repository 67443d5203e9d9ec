// A property of a fuzz target: when it does not hold, the run aborts, which
// the fuzzer reports with the input that broke it.
#pragma once

#include <cstdlib>

inline void Require(bool holds) {
  if (!holds) std::abort();
}
