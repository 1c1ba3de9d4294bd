#pragma once

#include <cstdio>
#include <cstdlib>

#include "core/json_text.h"

// An invariant that must hold for every input: a violation is reported like a crash, so
// libFuzzer saves the input that broke it.
#define FUZZ_CHECK(cond)                                                                  \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)

namespace loomdeck {

// Whether `text` is valid UTF-8 (the lenient decoder leaves valid text unchanged).
bool is_valid_utf8(std::string_view text);

// The compact text of a value, aborting if serialising throws.
std::string must_dump(const json& value);

}  // namespace loomdeck
