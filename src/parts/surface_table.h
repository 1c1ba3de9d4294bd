#pragma once

#include <string_view>

namespace loomdeck {

// One design surface: the bridge tool that opens it in the background, its label in texts, and
// whether it shows the generated test project rather than the part's own library.
struct Surface {
  std::string_view key;
  std::string_view tool;
  std::string_view label;
  bool needs_project;
};

// Looked up by exact, case-sensitive key; nullptr when there is no such surface.
const Surface* find_surface(std::string_view key);

}  // namespace loomdeck
