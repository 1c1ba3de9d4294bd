#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace loomdeck {

// A kernel release text that names Microsoft or WSL (any case) means the program runs under WSL,
// where the browser reaches the container's loopback directly.
bool is_wsl_release(std::string_view osrelease);

// VSCODE_PROXY_URI with every "{{port}}" replaced when it carries the placeholder, else the
// loopback address of the port.
std::string proxied_or_local_url(uint16_t port, const std::optional<std::string>& proxy_template);

// The advertising rule: loopback under WSL, otherwise the proxy template when it fits.
std::string dashboard_url_for(uint16_t port, bool wsl, const std::optional<std::string>& proxy_template);

// The URL under which the dashboard on `port` is advertised, read from this machine and environment.
std::string dashboard_url(uint16_t port);

// VSCODE_PROXY_URI, when set.
std::optional<std::string> proxy_template_from_env();

}  // namespace loomdeck
