#include "actions/launch.h"

#include <algorithm>
#include <cmath>

#include "actions/auto_green.h"
#include "bridge/readiness.h"
#include "core/box_name.h"

namespace loomdeck {

namespace {

using std::chrono::seconds;

json readiness(const ActionContext& ctx, const std::string& box) {
  return ctx.bridge.call(box, "fusion_readiness").data;
}

bool add_in_ready(const ActionContext& ctx, const std::string& box) {
  return probe_ready(ctx.bridge.bridge, ctx.bridge.attribution, box);
}

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
void launch_when_down(const ActionContext& ctx, const std::string& box, ReadyWait& wait) {
  if (is_true(readiness(ctx, box), "running") || ctx.clock.now() - wait.last_launch <= seconds(75)) return;
  wait.last_launch = ctx.clock.now();
  ctx.log.append("wait_ready_with_heal: launching Fusion on " + box);
  const LaunchStart start = start_fusion(ctx, box);
  toast(ctx.sink, start.refused ? *start.refused : "Opening Fusion on " + box_label(box), start.refused ? "err" : "");
}

// Stop, kill and start again, so a Fusion whose add-in did not come up loads it.
void restart_fusion(const ActionContext& ctx, const std::string& box) {
  toast(ctx.sink, "Fusion is up but its bridge add-in did not start - restarting Fusion for you");
  ctx.log.append("ensure_ready: add-in not serving, restarting Fusion");
  ctx.bridge.send(box, "fusion_stop", "{\"reason\":\"dashboard: add-in not serving, restarting to load it\"}");
  ctx.clock.sleep_for(seconds(4));
  ctx.bridge.send(box, "fusion_kill");
  ctx.clock.sleep_for(seconds(3));
  start_fusion(ctx, box);
}

// Past 40 s without the add-in: clears blocking dialogs on every pass, and once past 90 s
// restarts (at most once per call) a Fusion that runs with a silent add-in.
void clear_the_way(const ActionContext& ctx, const std::string& box, ReadyWait& wait) {
  const json s = ctx.bridge.call(box, "fusion_state", kStateArgs).data;
  const json* dialogs = member(s, "blockingDialogs");
  if (dialogs && dialogs->is_array() && !dialogs->empty()) {
    ctx.log.append("ensure_ready: clearing blocking dialogs");
    ctx.bridge.send(box, "fusion_dismiss_blocking_dialogs");
  }
  if (!wait.healed && ctx.clock.now() - wait.start > seconds(90) && is_true(s, "running") &&
      !is_true(s, "addinResponding")) {
    restart_fusion(ctx, box);
    wait.healed = true;
  }
}

}  // namespace

LaunchStart start_fusion(const StatusContext& status, const std::string& box) {
  BridgeReply start = status.bridge.call(box, "fusion_start");
  if (start.ok) {
    if (!is_true(start.data, "alreadyRunning")) status.launches_in_flight.set(box, status.clock.now());
    status.launch_failure_hints.erase(box);
    return {std::move(start.result), std::nullopt};
  }
  const std::string why = "Fusion is not starting on " + box_label(box) + ": " + refusal_reason(start);
  status.launches_in_flight.erase(box);
  if (status.known_boxes.keeps(box, start.data)) status.launch_failure_hints.set(box, why);
  return {std::move(start.result), why};
}

void forward_progress(const ActionContext& ctx, const std::string& box, bool& toasted) {
  const json r = readiness(ctx, box);
  const json* progress = member(r, "progress");
  if (!progress || progress->is_null()) return;
  ctx.sink.broadcast("progress", progress_event(box, *progress));
  if (!toasted) {
    toast(ctx.sink, progress_message(*progress));
    toasted = true;
  }
}

json refresh_status(const StatusContext& status, const std::string& box) {
  // Only a build begun now tells what the run's last step changed; a launch under way is shown
  // as /api/status shows it, so the pages do not flip between "starting" and "off".
  json payload = server_status(status, box, launch_in_flight(status, box), /*fresh=*/true);
  status.sink.broadcast("state", payload);
  return payload;
}

bool ensure_ready(const ActionContext& ctx, const std::string& box, long long budget_seconds) {
  Clock& clock = ctx.clock;
  const Clock::Instant start = clock.now();
  // A first launch may go out at once.
  ReadyWait wait{start, start - seconds(120)};
  for (;;) {
    if (whole_seconds(start, clock.now()) >= budget_seconds) return false;
    clock.sleep_for(seconds(5));
    launch_when_down(ctx, box, wait);
    if (clock.now() - start > seconds(40) && !add_in_ready(ctx, box)) clear_the_way(ctx, box, wait);
    if (add_in_ready(ctx, box)) break;
    forward_progress(ctx, box, wait.progress_toasted);
  }
  ctx.launches_in_flight.erase(box);
  toast(ctx.sink, "Fusion is ready - continuing", "ok");
  refresh_status(ctx, box);
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

bool ready_first(const ActionContext& ctx, const std::string& box, long long min_budget_seconds) {
  if (is_true(readiness(ctx, box), "ready")) return true;
  toast(ctx.sink, "Getting " + box_label(box) + " ready first - launching Fusion and waiting for the bridge add-in");
  // A run already in flight is joined; either way the wait below is what answers.
  start_green_run(ctx, box, false);
  const json s = ctx.bridge.call(box, "fusion_state", kStateArgs).data;
  return ensure_ready(ctx, box, launch_budget(s, min_budget_seconds));
}

}  // namespace loomdeck
