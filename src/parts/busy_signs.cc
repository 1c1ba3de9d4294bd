#include "parts/busy_signs.h"

namespace loomdeck {

std::string lower_ascii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string joined_lower(std::initializer_list<std::string> texts) {
  std::string out;
  bool first = true;
  for (const std::string& t : texts) {
    if (!first) out += ' ';
    out += t;
    first = false;
  }
  return lower_ascii(std::move(out));
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

bool main_thread_free(const json& state) {
  const json* busy = member(state, "mainThreadBusy");
  return is_true(state, "addinResponding") && (!busy || busy->is_null());
}

}  // namespace loomdeck
