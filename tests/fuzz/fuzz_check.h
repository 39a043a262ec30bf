// What every fuzz target shares: a property that fails stops the run at once
// (libFuzzer and the smoke driver both report the input), and the errors a
// decoder is allowed to throw on bad input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "base/error.h"

#define FUZZ_CHECK(cond)                                                              \
  do {                                                                                \
    if (!(cond)) {                                                                    \
      std::fprintf(stderr, "fuzz property failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

namespace orwenna::fuzz {

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Runs `f`; the system's own errors are the refusal a decoder gives bad input.
// Anything else escapes and is reported as a crash.
template <class F>
bool refusedOrDone(F&& f) {
  try {
    f();
    return true;
  } catch (const Error&) {
    return false;
  }
}

}  // namespace orwenna::fuzz
