#include "actions/launch.h"

#include <algorithm>
#include <cmath>

#include "bridge/readiness.h"
#include "core/box_name.h"

namespace loomdeck {

namespace {

using std::chrono::seconds;

json progress_event(const std::string& box, const json& p) {
  json event = {{"target", box}};
  for (const char* key : {"phase", "percent", "etaSec", "elapsedSec", "stepLabel", "confidence", "startKind"}) {
    event[key] = member_or_null(p, key);
  }
  return event;
}

std::string progress_message(const json& p) {
  std::string label = string_member(p, "stepLabel", "Fusion is starting");
  const json* eta = member(p, "etaSec");
  if (!eta || !eta->is_number_integer()) return label;
  return label + " - about " + eta->dump() + "s left (" + string_member(p, "confidence", "typical") + ")";
}

// What one ensure_ready call remembers from pass to pass.
struct ReadyWait {
  Clock::Instant start;
  Clock::Instant last_launch;
  bool healed = false;
  bool progress_toasted = false;
};

// The bridge's or the runner's words for a start that did not happen.
std::string refusal_reason(const BridgeReply& start) {
  if (start.error.is_string() && !start.error.get<std::string>().empty()) return start.error.get<std::string>();
  if (!start.error.is_null()) return start.error.dump();
  return "the bridge refused without saying why";
}

// Launches Fusion when it is not running and the last launch of this call is more than 75 s ago.
void launch_when_down(StatusService& status, const std::string& box, ReadyWait& wait) {
  if (read_readiness(status.bridge, box).running || status.clock.now() - wait.last_launch <= seconds(75)) return;
  wait.last_launch = status.clock.now();
  status.log.append("wait_ready_with_heal: launching Fusion on " + box);
  const LaunchStart start = start_fusion(status, box);
  toast(status.sink, start.refused ? *start.refused : "Opening Fusion on " + box_label(box),
        start.refused ? "err" : "");
}

// Stop, kill and start again, so a Fusion whose add-in did not come up loads it.
void restart_fusion(StatusService& status, const std::string& box) {
  toast(status.sink, "Fusion is up but its bridge add-in did not start - restarting Fusion for you");
  status.log.append("ensure_ready: add-in not serving, restarting Fusion");
  status.bridge.send(box, tool::kStop, "{\"reason\":\"dashboard: add-in not serving, restarting to load it\"}");
  status.clock.sleep_for(seconds(4));
  status.bridge.send(box, tool::kKill);
  status.clock.sleep_for(seconds(3));
  start_fusion(status, box);
}

// Past 40 s without the add-in: clears blocking dialogs on every pass, and once past 90 s
// restarts (at most once per call) a Fusion that runs with a silent add-in.
void clear_the_way(StatusService& status, const std::string& box, ReadyWait& wait) {
  const json s = status.bridge.call(box, tool::kState, kStateArgs).data;
  const json* dialogs = member(s, "blockingDialogs");
  if (dialogs && dialogs->is_array() && !dialogs->empty()) {
    status.log.append("ensure_ready: clearing blocking dialogs");
    status.bridge.send(box, tool::kDismissBlockingDialogs);
  }
  if (!wait.healed && status.clock.now() - wait.start > seconds(90) && is_true(s, "running") &&
      !is_true(s, "addinResponding")) {
    restart_fusion(status, box);
    wait.healed = true;
  }
}

}  // namespace

LaunchStart start_fusion(StatusService& status, const std::string& box) {
  BridgeReply start = status.bridge.call(box, tool::kStart);
  if (start.ok) {
    if (!is_true(start.data, "alreadyRunning")) status.launches_in_flight.set(box, status.clock.now());
    status.launch_failure_hints.erase(box);
    return {std::move(start.result), std::nullopt};
  }
  const std::string why = "Fusion is not starting on " + box_label(box) + ": " + refusal_reason(start);
  status.launches_in_flight.erase(box);
  if (status.known_boxes.keeps(box, says_unknown_target(start.data))) status.launch_failure_hints.set(box, why);
  return {std::move(start.result), why};
}

void forward_progress(StatusService& status, const std::string& box, bool& toasted) {
  const json progress = read_readiness(status.bridge, box).progress;
  if (progress.is_null()) return;
  status.sink.broadcast("progress", progress_event(box, progress));
  if (!toasted) {
    toast(status.sink, progress_message(progress));
    toasted = true;
  }
}

BoxStatus refresh_status(StatusService& status, const std::string& box) {
  // Only a build begun now tells what the run's last step changed; a launch under way is shown
  // as /api/status shows it, so the pages do not flip between "starting" and "off".
  BoxStatus fresh = server_status(status, box, launch_in_flight(status, box), /*fresh=*/true);
  status.sink.broadcast("state", fresh);
  return fresh;
}

bool ensure_ready(StatusService& status, const std::string& box, long long budget_seconds) {
  Clock& clock = status.clock;
  const Clock::Instant start = clock.now();
  // A first launch may go out at once.
  ReadyWait wait{start, start - seconds(120)};
  for (;;) {
    if (whole_seconds(start, clock.now()) >= budget_seconds) return false;
    clock.sleep_for(seconds(5));
    launch_when_down(status, box, wait);
    if (clock.now() - start > seconds(40) && !read_readiness(status.bridge, box).ready)
      clear_the_way(status, box, wait);
    if (read_readiness(status.bridge, box).ready) break;
    forward_progress(status, box, wait.progress_toasted);
  }
  status.launches_in_flight.erase(box);
  toast(status.sink, "Fusion is ready - continuing", "ok");
  refresh_status(status, box);
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

}  // namespace loomdeck
