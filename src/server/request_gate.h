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
};

// LOOMDECK_ALLOWED_ORIGINS and LOOMDECK_ALLOWED_HOSTS (comma-separated), VSCODE_PROXY_URI (its
// "{{port}}" read as `port`) and the machine's host name, as texts; absent ones are empty.
GateConfig gate_config(const std::string& allowed_origins, const std::string& allowed_hosts,
                       const std::string& proxy_uri, const std::string& machine_host, uint16_t port);

// The same, read from this process's environment and host name.
GateConfig gate_config_from_environment(uint16_t port);

struct GateVerdict {
  bool allowed = true;
  std::string why;      // for a refusal: which rule, naming the foreign origin or host
  std::string culprit;  // for a refusal: the origin or host to name to the user
};

// Whether a request to a route that spends or reveals something comes from the user's own pages
// or a local tool (curl, the CLI, agents) rather than from another web site, including one whose
// name was rebound to this machine.
GateVerdict decide_gate(const GateHeaders& headers, const GateConfig& config);

}  // namespace loomdeck
