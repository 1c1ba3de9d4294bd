#include "main/idle_supervisor.h"

#include <cstdlib>

#include "core/utf8.h"
#include "main/command_line.h"
#include "main/discovery.h"
#include "main/version_order.h"

namespace loomdeck {

bool may_retire(long long idle_seconds, int viewers) { return viewers == 0 && idle_seconds > kRetireAfterIdleSeconds; }

bool may_reap(long long idle_seconds, int viewers) { return viewers == 0 && idle_seconds > kReapAfterIdleSeconds; }

std::optional<std::string> successor_version(std::string_view ping_reply, std::string_view own) {
  if (!is_loomdeck_ping(ping_reply)) return std::nullopt;
  const std::string other = parse_json(lenient_utf8(ping_reply))->at("dashboardVersion").get<std::string>();
  if (other == own || compare_versions(own, other) > 0) return std::nullopt;
  return other;
}

std::string retire_line(std::string_view other, std::string_view own, long long idle_seconds) {
  return "v" + std::string(other) + " is serving and I am v" + std::string(own) + " with no viewers for " +
         std::to_string(idle_seconds / 60) + "m - retiring";
}

namespace {

// The version of the first server in the range this one may hand over to; a curl that cannot
// start ends the look.
std::optional<std::string> find_successor(ProcessRunner& runner, std::string_view own_version) {
  std::optional<std::string> other;
  scan_ports(
      runner, candidate_ports(), [](uint16_t port) { return quick_probe_command(port, "/api/ping"); },
      [&](const ProcessResult& probe) {
        if (!probe.started) return PortAnswer::kGiveUp;
        other = successor_version(probe.out, own_version);
        return other ? PortAnswer::kFound : PortAnswer::kNext;
      });
  return other;
}

}  // namespace

std::optional<std::string> idle_supervisor_tick(ServerState& state, std::string_view own_version) {
  state.clock.sleep_for(kSupervisorPeriod);
  const long long idle = whole_seconds(state.last_activity(), state.clock.now());
  const int viewers = state.events.viewer_count();
  if (may_retire(idle, viewers)) {
    if (const std::optional<std::string> other = find_successor(state.runner, own_version)) {
      return retire_line(*other, own_version, idle);
    }
  }
  if (may_reap(idle, viewers)) return std::string(kReapLine);
  return std::nullopt;
}

void run_idle_supervisor(const std::shared_ptr<ServerState>& state) {
  for (;;) {
    if (const auto line = idle_supervisor_tick(*state)) {
      say_ok(*line);
      // Connection threads may still be running; nothing needs flushing, so skip the destructors.
      std::_Exit(0);
    }
  }
}

}  // namespace loomdeck
