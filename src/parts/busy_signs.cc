#include "parts/busy_signs.h"

#include "core/text.h"

namespace loomdeck {

std::string joined_lower(std::initializer_list<std::string> texts) {
  std::string out;
  bool first = true;
  for (const std::string& t : texts) {
    if (!first) out += ' ';
    out += t;
    first = false;
  }
  return ascii_lower(out);
}

bool contains_any(const std::string& text, std::initializer_list<std::string_view> needles) {
  for (const std::string_view n : needles) {
    if (text.find(n) != std::string::npos) return true;
  }
  return false;
}

bool reads_as_still_working(const std::string& lowered) {
  return contains_any(lowered, {"timed out", "timeout", "main thread busy"});
}

}  // namespace loomdeck
