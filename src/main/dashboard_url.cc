#include "main/dashboard_url.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/text.h"

namespace loomdeck {

namespace {

constexpr std::string_view kPortPlaceholder = "{{port}}";

std::string local_url(uint16_t port) { return "http://127.0.0.1:" + std::to_string(port) + "/"; }

std::optional<std::string> read_osrelease() {
  std::ifstream in("/proc/sys/kernel/osrelease", std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

bool is_wsl_release(std::string_view osrelease) {
  const std::string lower = ascii_lower(osrelease);
  return lower.find("microsoft") != std::string::npos || lower.find("wsl") != std::string::npos;
}

std::string proxied_or_local_url(uint16_t port, const std::optional<std::string>& proxy_template) {
  if (!proxy_template || proxy_template->find(kPortPlaceholder) == std::string::npos) return local_url(port);
  return replace_all(*proxy_template, kPortPlaceholder, std::to_string(port));
}

std::string dashboard_url_for(uint16_t port, bool wsl, const std::optional<std::string>& proxy_template) {
  if (wsl) return local_url(port);
  return proxied_or_local_url(port, proxy_template);
}

std::optional<std::string> proxy_template_from_env() {
  const char* value = std::getenv("VSCODE_PROXY_URI");
  if (!value) return std::nullopt;
  return std::string(value);
}

std::string dashboard_url(uint16_t port) {
  const std::optional<std::string> release = read_osrelease();
  return dashboard_url_for(port, release && is_wsl_release(*release), proxy_template_from_env());
}

}  // namespace loomdeck
