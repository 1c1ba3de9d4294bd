#include "workspace/control_address.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/text.h"
#include "core/user_home.h"
#include "core/utf8.h"

namespace loomdeck {

std::optional<std::string> control_base_from_text(std::string_view content) {
  if (lenient_utf8(content) != content) return std::nullopt;
  std::string_view base = trim(content);
  while (!base.empty() && base.back() == '/') base.remove_suffix(1);
  if (base.empty() || base.front() == '-') return std::nullopt;
  return std::string(base);
}

std::optional<std::string> read_control_base_url() {
  const std::optional<std::string> home = user_home();
  if (!home) return std::nullopt;
  std::ifstream in(*home + "/.ovra/brindle-control-url", std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return control_base_from_text(content.str());
}

}  // namespace loomdeck
