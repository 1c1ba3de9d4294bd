#include "main/discovery.h"

#include <iostream>

#include "core/json_text.h"
#include "core/utf8.h"
#include "core/version.h"

namespace loomdeck {

std::vector<std::string> quick_probe_command(uint16_t port, std::string_view path) {
  return {"curl", "-s", "-m", "1", "http://127.0.0.1:" + std::to_string(port) + std::string(path)};
}

std::vector<uint16_t> candidate_ports(std::optional<uint16_t> port) {
  if (port) return {*port};
  std::vector<uint16_t> ports;
  for (uint16_t p = kFirstPort; p <= kLastPort; ++p) ports.push_back(p);
  return ports;
}

std::optional<uint16_t> scan_ports(ProcessRunner& runner, const std::vector<uint16_t>& ports,
                                   const std::function<std::vector<std::string>(uint16_t)>& command,
                                   const std::function<PortAnswer(const ProcessResult&)>& judge,
                                   std::chrono::milliseconds time_limit) {
  ProcessOptions options;
  options.stderr_mode = OutputMode::kDiscard;
  options.time_limit = time_limit;
  for (const uint16_t port : ports) {
    switch (judge(runner.run(command(port), options))) {
      case PortAnswer::kFound: return port;
      case PortAnswer::kGiveUp: return std::nullopt;
      case PortAnswer::kNext: break;
    }
  }
  return std::nullopt;
}

bool is_loomdeck_ping(std::string_view reply) {
  // In the compact form the server writes, as is_own_version_ping reads it.
  if (reply.find("\"app\":\"loomdeck\"") == std::string_view::npos) return false;
  const std::optional<json> ping = parse_json(lenient_utf8(reply));
  if (!ping) return false;
  const json* app = member(*ping, "app");
  const json* version = member(*ping, "dashboardVersion");
  return app && *app == "loomdeck" && version && version->is_string() && !version->get<std::string>().empty();
}

std::optional<uint16_t> find_loomdeck_server(ProcessRunner& runner, std::optional<uint16_t> port) {
  std::optional<uint16_t> asked;
  return scan_ports(
      runner, candidate_ports(port),
      [&](uint16_t candidate) {
        asked = candidate;
        return quick_probe_command(candidate, "/api/ping");
      },
      [&](const ProcessResult& probe) {
        if (probe.started && probe.exit_code == 0 && is_loomdeck_ping(probe.out)) return PortAnswer::kFound;
        if (probe.started && probe.exit_code == 0 && !probe.out.empty()) {
          std::cerr << "NOTE: port " << *asked << " answers, but not as loomdeck - skipped\n" << std::flush;
        }
        return PortAnswer::kNext;
      });
}

bool is_own_version_ping(std::string_view reply) {
  const std::string version_text = std::string("\"dashboardVersion\":\"") + LOOMDECK_VERSION + "\"";
  return reply.find("\"app\":\"loomdeck\"") != std::string_view::npos &&
         reply.find(version_text) != std::string_view::npos;
}

std::optional<uint16_t> find_running_instance(ProcessRunner& runner) { return find_own_server(runner, std::nullopt); }

std::optional<uint16_t> find_own_server(ProcessRunner& runner, std::optional<uint16_t> port) {
  return scan_ports(
      runner, candidate_ports(port), [](uint16_t candidate) { return quick_probe_command(candidate, "/api/ping"); },
      [](const ProcessResult& probe) {
        return probe.started && is_own_version_ping(probe.out) ? PortAnswer::kFound : PortAnswer::kNext;
      });
}

}  // namespace loomdeck
