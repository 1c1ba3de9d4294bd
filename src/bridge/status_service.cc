#include "bridge/status_service.h"

#include <exception>
#include <thread>
#include <vector>

#include "settings/settings.h"

namespace loomdeck {

StatusProbes run_status_probes(const BridgeClient& bridge, const std::string& box) {
  StatusProbes probes;
  const std::pair<const char*, json*> jobs[] = {
      {"fusion_readiness", &probes.readiness},
      {"fusion_aps_status", &probes.aps},
      {"fusion_mcp_status", &probes.mcp},
      {"fusion_set_auto_update", &probes.auto_update},
      {"fusion_set_seat_takeover", &probes.seat_takeover},
      {"fusion_set_driving_badge", &probes.driving_badge},
      {"fusion_set_activity_indicator", &probes.activity_indicator},
  };
  std::vector<std::thread> threads;
  threads.reserve(std::size(jobs) - 1);
  for (const auto& [tool, out] : jobs) {
    const auto probe = [&bridge, &box, tool = tool, slot = out] { *slot = bridge.call(box, tool).data; };
    // The last probe runs on this thread, which would only wait otherwise.
    if (out == jobs[std::size(jobs) - 1].second) {
      probe();
      break;
    }
    try {
      threads.emplace_back(probe);
    } catch (const std::exception&) {
      // No thread to spare: run this probe here rather than lose it.
      probe();
    }
  }
  for (std::thread& th : threads) th.join();
  return probes;
}

json build_status(Bridge& bridge, Clock& clock, const std::string& attribution, const std::string& box,
                  bool launch_in_flight) {
  const StatusProbes probes = run_status_probes(BridgeClient{bridge, attribution}, box);
  return status_payload(box, probes, load_settings(), launch_in_flight, clock.wall_now());
}

namespace {

struct StatusRead {
  json payload;
  bool kept;  // the bridge knows the box, so what was read may be remembered
};

StatusRead read_status(const StatusContext& status, const std::string& box, bool launch_in_flight, bool fresh) {
  const std::optional<StatusProbes> probes =
      status.builds.run(box, [&status, &box] { return run_status_probes(status.bridge, box); },
                        fresh ? StatusBuilds::Join::kFresh : StatusBuilds::Join::kAny);
  const Clock::WallTime now = status.clock.wall_now();
  json payload = status_payload(box, probes.value_or(StatusProbes{}), load_settings(), launch_in_flight, now);
  if (!status.known_boxes.keeps(box, payload)) return {std::move(payload), false};
  if (status.observe) status.observe(payload, now);
  return {apply_launch_failure(std::move(payload), status.launch_failure_hints.get(box)), true};
}

}  // namespace

json server_status(const StatusContext& status, const std::string& box, bool launch_in_flight, bool fresh) {
  return read_status(status, box, launch_in_flight, fresh).payload;
}

json apply_launch_failure(json payload, const std::optional<std::string>& why) {
  const std::string state = led_state(payload, "fusionRunning");
  if (!why || state == "on" || state == "starting" || !led(payload, "fusionRunning")) return payload;
  json& fusion = payload["leds"]["fusionRunning"];
  fusion["_hint"] = *why;
  fusion["notStarting"] = *why;
  return payload;
}

bool launch_in_flight(const StatusContext& status, const std::string& box) {
  const Clock::Instant now = status.clock.now();
  status.launches_in_flight.erase_if(
      [&](const Clock::Instant& at) { return now - at >= std::chrono::seconds(kLaunchWindowSeconds); });
  return status.launches_in_flight.contains(box);
}

json apply_status_cache(json payload, const std::optional<CachedStatus>& cached, Clock::Instant now) {
  if (!cached) return payload;
  const long long age = whole_seconds(cached->verified_at, now);
  if (age >= kStaleAfterSeconds) {
    payload["stale"] = true;
    payload["lastVerifiedAgeSec"] = age;
    payload["_hint"] = "The bridge has not answered a status probe for " + std::to_string(age) +
                       "s, and the last verified state is too old to keep presenting as current. Press refresh, or read "
                       "fusion_readiness directly - it often answers alone even when the six-verb status fan-out does not.";
    return payload;
  }
  json shown = cached->payload;
  shown["stale"] = true;
  shown["busyReason"] = member_or_null(payload, "busyReason");
  shown["lastVerifiedAgeSec"] = age;
  shown["_hint"] = "Showing the state verified " + std::to_string(age) +
                   "s ago: a fresh probe did not answer (the bridge is busy with a long verb). Nothing here is broken - "
                   "it is simply not re-checkable this second.";
  return shown;
}

json live_status(const StatusContext& status, const std::string& box) {
  const bool launching = launch_in_flight(status, box);
  StatusRead read = read_status(status, box, launching, false);
  json payload = std::move(read.payload);
  if (is_true(payload, "answered")) {
    if (read.kept) status.cache.set(box, CachedStatus{status.clock.now(), payload});
  } else {
    payload = apply_status_cache(std::move(payload), status.cache.get(box), status.clock.now());
  }
  status.sink.broadcast("state", payload);
  return payload;
}

}  // namespace loomdeck
