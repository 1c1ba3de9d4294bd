#include "actions/launch.h"

#include <algorithm>
#include <cmath>

#include "actions/auto_green.h"
#include "bridge/readiness.h"
#include "bridge/status_service.h"

namespace loomdeck {

namespace {

using std::chrono::seconds;

void toast(ServerState& state, const std::string& message, const char* kind) {
  state.sink.broadcast("toast", json{{"kind", kind}, {"message", message}});
}

json readiness(ServerState& state, const std::string& box) {
  return unwrap_bridge_data(state.bridge.call(state.attribution, box, "fusion_readiness", "{}"));
}

json progress_event(const std::string& box, const json& p) {
  json event = {{"target", box}};
  for (const char* key : {"phase", "percent", "etaSec", "elapsedSec", "stepLabel", "confidence", "startKind"}) {
    event[key] = member_or_null(p, key);
  }
  return event;
}

std::string progress_message(const json& p) {
  const std::string label = string_member(p, "stepLabel", "Fusion is starting");
  const json* eta = member(p, "etaSec");
  if (!eta || !eta->is_number_integer()) return label;
  return label + " - about " + eta->dump() + "s left (" + string_member(p, "confidence", "typical") + ")";
}

}  // namespace

json refresh_status(ServerState& state, const std::string& box) {
  // Only a build begun now tells what the run's last step changed.
  json payload = server_status(state, box, false, /*fresh=*/true);
  state.sink.broadcast("state", payload);
  return payload;
}

bool ensure_ready(ServerState& state, const std::string& box, long long budget_seconds) {
  Clock& clock = state.clock;
  const Clock::Instant start = clock.now();
  Clock::Instant last_launch = start - seconds(120);
  bool healed = false;
  bool progress_toasted = false;
  for (;;) {
    if (whole_seconds(start, clock.now()) >= budget_seconds) return false;
    clock.sleep_for(seconds(5));

    if (!is_true(readiness(state, box), "running") && clock.now() - last_launch > seconds(75)) {
      last_launch = clock.now();
      state.launches_in_flight.set(box, last_launch);
      toast(state, "Opening Fusion on " + box, "");
      state.log.append("wait_ready_with_heal: launching Fusion on " + box);
      state.bridge.call(state.attribution, box, "fusion_start", "{}");
    }

    if (clock.now() - start > seconds(40) && !probe_ready(state.bridge, state.attribution, box)) {
      const json s = unwrap_bridge_data(state.bridge.call(state.attribution, box, "fusion_state", kStateArgs));
      const json* dialogs = member(s, "blockingDialogs");
      if (dialogs && dialogs->is_array() && !dialogs->empty()) {
        state.log.append("ensure_ready: clearing blocking dialogs");
        state.bridge.call(state.attribution, box, "fusion_dismiss_blocking_dialogs", "{}");
      }
      if (!healed && clock.now() - start > seconds(90) && is_true(s, "running") && !is_true(s, "addinResponding")) {
        toast(state, "Fusion is up but its bridge add-in did not start - restarting Fusion for you", "");
        state.log.append("ensure_ready: add-in not serving, restarting Fusion");
        state.bridge.call(state.attribution, box, "fusion_stop",
                          "{\"reason\":\"dashboard: add-in not serving, restarting to load it\"}");
        clock.sleep_for(seconds(4));
        state.bridge.call(state.attribution, box, "fusion_kill", "{}");
        clock.sleep_for(seconds(3));
        state.launches_in_flight.set(box, clock.now());
        state.bridge.call(state.attribution, box, "fusion_start", "{}");
        healed = true;
      }
    }

    if (probe_ready(state.bridge, state.attribution, box)) break;

    const json r = readiness(state, box);
    const json* progress = member(r, "progress");
    if (progress && !progress->is_null()) {
      state.sink.broadcast("progress", progress_event(box, *progress));
      if (!progress_toasted) {
        toast(state, progress_message(*progress), "");
        progress_toasted = true;
      }
    }
  }
  state.launches_in_flight.erase(box);
  toast(state, "Fusion is ready - continuing", "ok");
  refresh_status(state, box);
  return true;
}

long long launch_budget(const json& fusion_state, long long min_budget_seconds) {
  const std::optional<double> p = cold_launch_seconds(fusion_state);
  if (!p || !(*p > 0)) return min_budget_seconds;
  const double doubled = std::trunc(2 * *p);
  const double budget = doubled + 120;
  if (budget > 1e12) return std::max<long long>(min_budget_seconds, 1000000000000LL);
  return std::max(min_budget_seconds, static_cast<long long>(budget));
}

bool ready_first(ServerState& state, const std::string& box, long long min_budget_seconds) {
  if (is_true(readiness(state, box), "ready")) return true;
  toast(state, "Getting " + box + " ready first - launching Fusion and waiting for the bridge add-in", "");
  start_green_run(state, box, false);
  const json s = unwrap_bridge_data(state.bridge.call(state.attribution, box, "fusion_state", kStateArgs));
  return ensure_ready(state, box, launch_budget(s, min_budget_seconds));
}

}  // namespace loomdeck
