#include "bridge/status_service.h"

#include <exception>
#include <thread>

#include "bridge/targets.h"
#include "core/version.h"
#include "http/response.h"
#include "settings/settings.h"

namespace loomdeck {

StatusProbes run_status_probes(Bridge& bridge, const std::string& attribution, const std::string& box) {
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
  threads.reserve(std::size(jobs));
  for (const auto& [tool, out] : jobs) {
    const char* t = tool;
    json* slot = out;
    try {
      threads.emplace_back([&bridge, &attribution, &box, t, slot] {
        *slot = unwrap_bridge_data(bridge.call(attribution, box, t, "{}"));
      });
    } catch (const std::exception&) {
      // No thread to spare: run this probe here rather than lose it.
      *slot = unwrap_bridge_data(bridge.call(attribution, box, t, "{}"));
    }
  }
  for (std::thread& th : threads) th.join();
  return probes;
}

json build_status(Bridge& bridge, Clock& clock, const std::string& attribution, const std::string& box,
                  bool launch_in_flight) {
  const StatusProbes probes = run_status_probes(bridge, attribution, box);
  return status_payload(box, probes, load_settings(), launch_in_flight, clock.wall_now());
}

json server_status(ServerState& state, const std::string& box, bool launch_in_flight, bool fresh) {
  using Builds = SingleFlight<StatusProbes>;
  const std::optional<StatusProbes> probes = state.status_builds.run(
      box, [&state, &box] { return run_status_probes(state.bridge, state.attribution, box); },
      fresh ? Builds::Join::kFresh : Builds::Join::kAny);
  return status_payload(box, probes.value_or(StatusProbes{}), load_settings(), launch_in_flight, state.clock.wall_now());
}

bool launch_in_flight(ServerState& state, const std::string& box) {
  const Clock::Instant now = state.clock.now();
  state.launches_in_flight.erase_if(
      [&](const Clock::Instant& at) { return now - at >= std::chrono::seconds(kLaunchWindowSeconds); });
  return state.launches_in_flight.contains(box);
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
  shown["busyReason"] = payload["busyReason"];
  shown["lastVerifiedAgeSec"] = age;
  shown["_hint"] = "Showing the state verified " + std::to_string(age) +
                   "s ago: a fresh probe did not answer (the bridge is busy with a long verb). Nothing here is broken - "
                   "it is simply not re-checkable this second.";
  return shown;
}

json live_status(ServerState& state, const std::string& box) {
  const bool launching = launch_in_flight(state, box);
  json payload = server_status(state, box, launching);
  if (!launching && !payload["leds"]["fusionRunning"]["on"].get<bool>()) {
    if (const auto hint = state.launch_failure_hints.get(box)) payload["leds"]["fusionRunning"]["_hint"] = *hint;
  }
  if (payload["answered"].get<bool>()) {
    state.status_cache.set(box, CachedStatus{state.clock.now(), payload});
  } else {
    payload = apply_status_cache(std::move(payload), state.status_cache.get(box), state.clock.now());
  }
  state.sink.broadcast("state", payload);
  return payload;
}

void handle_status(Exchange& ex) {
  const std::string box = request_box(ex);
  if (!box_usable(ex, box)) return;
  ex.state.log.append("status target=" + box);
  send_json(ex.stream, live_status(ex.state, box));
}

void handle_health(Exchange& ex) {
  const std::string box = request_box(ex);
  if (!box_usable(ex, box)) return;
  const std::optional<CachedStatus> cached = ex.state.status_cache.get(box);
  if (cached) {
    const json* state = member(cached->payload, "state");
    send_json(ex.stream, json{{"state", state && state->is_string() ? *state : json("ok")},
                              {"leds", member_or_null(cached->payload, "leds")},
                              {"cachedAgeSec", whole_seconds(cached->verified_at, ex.state.clock.now())},
                              {"dashboardVersion", LOOMDECK_VERSION}});
    return;
  }
  send_json(ex.stream, json{{"state", "unknown"},
                            {"detail", "no status gathered yet - warming in the background"},
                            {"dashboardVersion", LOOMDECK_VERSION}});
  // One warm-up per box at a time, so polling a box that never answers cannot stack them.
  if (!ex.state.warmups_in_flight.insert(box, true)) return;
  std::shared_ptr<ServerState> state = ex.state.shared_from_this();
  try {
    state->run_in_background([state, box] {
      const json payload = server_status(*state, box, false);
      if (payload["answered"].get<bool>()) state->status_cache.set(box, CachedStatus{state->clock.now(), payload});
      state->warmups_in_flight.erase(box);
    });
  } catch (const std::exception&) {
    state->warmups_in_flight.erase(box);
  }
}

}  // namespace loomdeck
