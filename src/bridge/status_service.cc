#include "bridge/status_service.h"

#include <exception>
#include <thread>
#include <vector>

namespace loomdeck {

StatusProbes run_status_probes(const BridgeClient& bridge, const std::string& box) {
  StatusProbes probes;
  // The probes of the tool table, in its order, each with the slot its answer goes to.
  json* const slots[] = {&probes.readiness,         &probes.aps,           &probes.mcp,
                         &probes.auto_update,       &probes.seat_takeover, &probes.driving_badge,
                         &probes.activity_indicator};
  static_assert(std::size(slots) == status_probe_count());
  std::pair<std::string_view, json*> jobs[std::size(slots)];
  std::size_t next = 0;
  for (const BridgeTool& t : kBridgeTools) {
    if (!t.probe) continue;
    jobs[next] = {t.wire, slots[next]};
    ++next;
  }
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

StatusService::StatusService(BridgeClient bridge, Clock& clock, EventSink& sink, ServerLog& log,
                             const SettingsStore& settings, KnownBoxes& known_boxes, BoxChoice boxes,
                             RunInBackground in_background, StatusObserver observe)
    : bridge(std::move(bridge)),
      clock(clock),
      sink(sink),
      log(log),
      settings(settings),
      known_boxes(known_boxes),
      boxes(boxes),
      in_background(std::move(in_background)),
      observe(std::move(observe)) {}

BoxStatus build_status(const BridgeClient& bridge, Clock& clock, const SettingsStore& settings, const std::string& box,
                       bool launch_in_flight) {
  const StatusProbes probes = run_status_probes(bridge, box);
  return box_status(box, probes, settings.load(), launch_in_flight, clock.wall_now());
}

namespace {

struct StatusRead {
  BoxStatus status;
  bool kept;  // the bridge knows the box, so what was read may be remembered
};

StatusRead read_status(StatusService& status, const std::string& box, bool launch_in_flight, bool fresh) {
  const std::optional<StatusProbes> probes = status.builds.run(
      box, [&status, &box] { return run_status_probes(status.bridge, box); },
      fresh ? StatusBuilds::Join::kFresh : StatusBuilds::Join::kAny);
  const Clock::WallTime now = status.clock.wall_now();
  BoxStatus built = box_status(box, probes.value_or(StatusProbes{}), status.settings.load(), launch_in_flight, now);
  if (!status.known_boxes.keeps(box, built.unknown_target())) return {std::move(built), false};
  if (status.observe) status.observe(built, now);
  return {apply_launch_failure(std::move(built), status.launch_failure_hints.get(box)), true};
}

constexpr const char* kStaleHint =
    "s, and the last verified state is too old to keep presenting as current. Press refresh, or read "
    "fusion_readiness directly - it often answers alone even when the six-verb status fan-out does not.";
constexpr const char* kCachedHint =
    "s ago: a fresh probe did not answer (the bridge is busy with a long verb). Nothing here is broken - "
    "it is simply not re-checkable this second.";

}  // namespace

BoxStatus server_status(StatusService& status, const std::string& box, bool launch_in_flight, bool fresh) {
  return read_status(status, box, launch_in_flight, fresh).status;
}

BoxStatus apply_launch_failure(BoxStatus status, const std::optional<std::string>& why) {
  Led& fusion = status.led(LedId::kFusionRunning);
  if (!why || fusion.state == "on" || fusion.state == "starting") return status;
  fusion.hint = *why;
  fusion.not_starting = *why;
  return status;
}

bool launch_in_flight(StatusService& status, const std::string& box) {
  const Clock::Instant now = status.clock.now();
  status.launches_in_flight.erase_if(
      [&](const Clock::Instant& at) { return now - at >= std::chrono::seconds(kLaunchWindowSeconds); });
  return status.launches_in_flight.contains(box);
}

BoxStatus apply_status_cache(BoxStatus fresh, const std::optional<CachedStatus>& cached, Clock::Instant now) {
  if (!cached) return fresh;
  const long long age = whole_seconds(cached->verified_at, now);
  if (age >= kStaleAfterSeconds) {
    fresh.last_verified_age_sec = age;
    fresh.hint = "The bridge has not answered a status probe for " + std::to_string(age) + kStaleHint;
    return fresh;
  }
  BoxStatus shown = cached->status;
  shown.busy_reason = fresh.busy_reason;
  shown.last_verified_age_sec = age;
  shown.hint = "Showing the state verified " + std::to_string(age) + kCachedHint;
  return shown;
}

BoxStatus live_status(StatusService& status, const std::string& box) {
  const bool launching = launch_in_flight(status, box);
  StatusRead read = read_status(status, box, launching, false);
  BoxStatus shown = std::move(read.status);
  if (shown.answered) {
    if (read.kept) status.cache.set(box, CachedStatus{status.clock.now(), shown});
  } else {
    shown = apply_status_cache(std::move(shown), status.cache.get(box), status.clock.now());
  }
  status.sink.broadcast("state", shown);
  return shown;
}

}  // namespace loomdeck
