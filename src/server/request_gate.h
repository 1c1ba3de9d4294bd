#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "http/request.h"

namespace loomdeck {

// Who may drive the server besides its own pages and local tools, fixed when it starts.
struct GateConfig {
  std::vector<std::string> allowed_origins;  // normalised "scheme://host[:port]"
  std::vector<std::string> own_names;        // lower-case host names that reach this server
  // Host names a browser that sends no Fetch Metadata may use besides the loopback names: the
  // listed hosts and the workspace proxy's host.
  std::vector<std::string> browser_hosts;
  std::string proxy_host;    // lower-case; empty without an absolute VSCODE_PROXY_URI
  std::string proxy_scheme;  // "http" or "https", with proxy_host
};

// LOOMDECK_ALLOWED_ORIGINS and LOOMDECK_ALLOWED_HOSTS (comma-separated), VSCODE_PROXY_URI (its
// "{{port}}" read as `port`) and the machine's host name, as texts; absent ones are empty.
GateConfig gate_config(const std::string& allowed_origins, const std::string& allowed_hosts,
                       const std::string& proxy_uri, const std::string& machine_host, uint16_t port);

// The same, read from this process's environment and host name.
GateConfig gate_config_from_environment(uint16_t port);

// What the gate reads of a request.
struct GateRequest {
  std::optional<std::string> host;
  std::optional<std::string> origin;
  std::optional<std::string> sec_fetch_site;
  bool browser_signs = false;  // see has_browser_signs
  bool token = false;          // it carried the server's token
};

// Whether a request looks like a browser's: curl, the CLI and agents send none of Sec-Fetch-Dest,
// Upgrade-Insecure-Requests, a User-Agent beginning "Mozilla/" or an Accept naming text/html or image/.
bool has_browser_signs(const Headers& headers);

GateRequest gate_request(const Request& request, bool token);

// The header among Host, Origin and Sec-Fetch-Site that came more than once, if any: such a
// request is ambiguous (which one would the gate believe?) and is refused whole.
std::optional<std::string> repeated_gate_header(const Headers& headers);

struct GateVerdict {
  bool allowed = true;
  std::string why;      // for a refusal: which rule, naming the foreign origin or host
  std::string culprit;  // for a refusal: the origin or host to name to the user
};

// Whether a request to a route that spends or reveals something comes from the user's own pages
// or a local tool (curl, the CLI, agents) rather than from another web site, including one whose
// name was rebound to this machine.
GateVerdict decide_gate(const GateRequest& request, const GateConfig& config);

}  // namespace loomdeck
