#include "fuzz_check.h"

#include <exception>

#include "core/utf8.h"

namespace loomdeck {

bool is_valid_utf8(std::string_view text) { return lenient_utf8(text) == text; }

std::string must_dump(const json& value) {
  try {
    return dump_compact(value);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "serialising threw: %s\n", e.what());
    std::abort();
  }
}

}  // namespace loomdeck
