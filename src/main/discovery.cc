#include "main/discovery.h"

#include "core/version.h"

namespace loomdeck {

std::vector<std::string> quick_probe_command(uint16_t port, std::string_view path) {
  return {"curl", "-s", "-m", "1", "http://127.0.0.1:" + std::to_string(port) + std::string(path)};
}

bool is_own_version_ping(std::string_view reply) {
  const std::string version_text = std::string("\"dashboardVersion\":\"") + LOOMDECK_VERSION + "\"";
  return reply.find("\"app\":\"loomdeck\"") != std::string_view::npos &&
         reply.find(version_text) != std::string_view::npos;
}

std::optional<uint16_t> find_running_instance(ProcessRunner& runner) {
  ProcessOptions options;
  options.stderr_mode = OutputMode::kDiscard;
  for (uint16_t port = kFirstPort; port <= kLastPort; ++port) {
    const ProcessResult probe = runner.run(quick_probe_command(port, "/api/ping"), options);
    if (probe.started && is_own_version_ping(probe.out)) return port;
  }
  return std::nullopt;
}

}  // namespace loomdeck
