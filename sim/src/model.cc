#include "model.h"

#include <algorithm>
#include <cmath>

#include "ops.h"
#include "stamps.h"
#include "tour.h"

namespace sim {

namespace {
constexpr size_t kHistoryKept = 20;
constexpr size_t kResultsKept = 16;
constexpr int64_t kTypicalLaunchSec = 45;
constexpr int64_t kWarmWithinMs = 600'000;

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size())));
  return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

void land_launch(Box& box, const Launch& l) {
  box.launch.reset();
  if (!l.takes) {
    box.running = false;
    box.last_launch_error = l.failure;
    return;
  }
  box.running = true;
  box.suspended = false;
  box.suspended_by.clear();
  box.addin_silent = l.silent;
  box.last_launch_error.clear();
  if (box.needs_signin && box.signin_wall.empty()) box.signin_wall = "email";
  box.launch_history.push_back(static_cast<double>(l.duration_ms) / 1000.0);
  if (box.launch_history.size() > kHistoryKept)
    box.launch_history.erase(box.launch_history.begin(),
                             box.launch_history.end() - static_cast<std::ptrdiff_t>(kHistoryKept));
}

void remember_result(Box& box, const std::string& id, json answer) {
  box.op_results.push_back({id, std::move(answer)});
  if (box.op_results.size() > kResultsKept) box.op_results.erase(box.op_results.begin());
}
}  // namespace

int64_t seconds_to_ms(double seconds) { return static_cast<int64_t>(std::llround(seconds * 1000.0)); }

std::optional<std::string> main_thread_busy(const Box& box) {
  for (const auto& op : box.ops)
    if (op.main_thread) return op.verb;
  if (tour_occupies_main_thread(box)) {
    const auto& steps = tour_steps();
    int pos = std::clamp(box.tour->position, 0, static_cast<int>(steps.size()) - 1);
    return std::string("fusion_demo: ") + steps[static_cast<size_t>(pos)].label;
  }
  return std::nullopt;
}

bool addin_responding(const Box& box) {
  return box.running && !box.launch && !box.addin_silent && !box.needs_signin && box.bridge_responsive;
}

bool is_ready(const Box& box) {
  return addin_responding(box) && box.blocking_dialogs.empty() && !main_thread_busy(box);
}

json launch_progress(const Box& box, int64_t now_ms) {
  if (!box.launch) return nullptr;
  const Launch& l = *box.launch;
  int64_t elapsed_ms = std::max<int64_t>(0, now_ms - l.started_at_ms);
  int64_t estimate_ms = std::max<int64_t>(1000, l.estimate_sec * 1000);
  int percent = static_cast<int>(std::min<int64_t>(99, elapsed_ms * 100 / estimate_ms));
  int64_t eta = std::max<int64_t>(1, (estimate_ms - elapsed_ms + 999) / 1000);
  const char* phase = "process";
  const char* label = "Starting Fusion";
  if (box.running || elapsed_ms >= l.process_up_ms) {
    bool late = elapsed_ms * 10 >= l.duration_ms * 7;
    phase = late ? "addin" : "workspace";
    label = late ? "Loading the bridge add-in" : "Loading the Fusion workspace";
  }
  return {{"phase", phase},
          {"percent", percent},
          {"etaSec", eta},
          {"elapsedSec", elapsed_ms / 1000},
          {"stepLabel", label},
          {"confidence", box.launch_history.size() >= 3 ? "measured" : "typical"},
          {"startKind", l.kind}};
}

json launch_timings(const Box& box) {
  if (box.launch_history.empty()) return json::object();
  return {{"launch",
           {{"cold",
             {{"p50", percentile(box.launch_history, 0.5)},
              {"p90", percentile(box.launch_history, 0.9)},
              {"samples", box.launch_history.size()}}}}}};
}

void begin_launch(Box& box, int64_t now_ms, bool takes, const std::string& failure) {
  Launch l;
  l.started_at_ms = now_ms;
  l.duration_ms = std::max<int64_t>(1, seconds_to_ms(box.launch_seconds));
  l.process_up_ms = l.duration_ms / 4;
  l.takes = takes && box.launches_take;
  l.failure = !takes ? failure : "the launch did not take (a licensing dialog held it)";
  l.silent = box.addin_silent_launches > 0;
  if (l.silent) --box.addin_silent_launches;
  l.kind = box.last_exit_at_ms > 0 && now_ms - box.last_exit_at_ms < kWarmWithinMs ? "warm" : "cold";
  l.estimate_sec = box.launch_history.empty()
                       ? kTypicalLaunchSec
                       : std::max<int64_t>(1, std::llround(percentile(box.launch_history, 0.5)));
  box.launch = l;
  box.last_launch_error.clear();
}

void end_fusion(Box& box, int64_t now_ms, const std::string& why, bool keep_documents) {
  bool was_up = box.running || box.launch;
  for (const auto& op : box.ops)
    if (op.main_thread) remember_result(box, op.id, {{"success", false}, {"error", why}});
  std::erase_if(box.ops, [](const Op& op) { return op.main_thread; });
  if (box.tour && !box.tour->done) fail_tour(box, why);
  box.running = false;
  box.launch.reset();
  box.addin_silent = false;
  box.blocking_dialogs.clear();
  box.signin_wall.clear();
  box.view = nullptr;
  if (!keep_documents) box.documents.clear();
  if (was_up) box.last_exit_at_ms = now_ms;
}

void advance(Box& box, int64_t now_ms) {
  if (box.launch) {
    const Launch l = *box.launch;
    if (l.takes && now_ms >= l.started_at_ms + l.process_up_ms) box.running = true;
    if (now_ms >= l.started_at_ms + l.duration_ms) land_launch(box, l);
  }
  std::stable_sort(box.ops.begin(), box.ops.end(), [](const Op& a, const Op& b) { return a.until_ms < b.until_ms; });
  while (!box.ops.empty() && box.ops.front().until_ms <= now_ms) {
    Op op = box.ops.front();
    box.ops.erase(box.ops.begin());
    remember_result(box, op.id, complete_op(box, op, op.until_ms));
  }
  advance_tour(box, now_ms);
  if (box.running && box.update_offered && !box.update_handled && box.auto_update_fusion) box.update_handled = true;
  if (is_ready(box)) box.last_ready_at = utc_stamp(now_ms);
  if (box.running && box.mcp_enabled) box.mcp_last_enabled_at = utc_stamp(now_ms);
  if (box.running && !box.needs_signin && !box.fusion_user.empty()) box.last_signed_in_at = utc_stamp(now_ms);
}

std::string add_op(Box& box, const std::string& verb, const json& args, int64_t until_ms, bool main_thread) {
  std::string id = "op-" + std::to_string(box.next_op++);
  box.ops.push_back({id, verb, until_ms, args, main_thread});
  return id;
}

std::optional<json> op_answer(const Box& box, const std::string& op_id) {
  for (const auto& r : box.op_results)
    if (r.id == op_id) return r.answer;
  return std::nullopt;
}

bool op_pending(const Box& box, const std::string& op_id) {
  return std::any_of(box.ops.begin(), box.ops.end(), [&](const Op& op) { return op.id == op_id; });
}

}  // namespace sim
