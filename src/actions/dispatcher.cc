#include "actions/dispatcher.h"

#include "actions/auto_green.h"
#include "actions/launch.h"
#include "actions/ready_first.h"
#include "bridge/readiness.h"
#include "core/box_name.h"
#include "http/response.h"

namespace loomdeck {

namespace {

using std::chrono::seconds;

constexpr const char* kTourArgs = "{\"mode\":\"tour\",\"preset\":\"electronics\",\"remote\":true}";

// Verbs that map straight to one bridge tool with the request's args.
struct PassThrough {
  const char* verb;
  const char* tool;
  const char* fixed_args;  // nullptr: the request's args
};

const PassThrough kPassThrough[] = {
    {"signin", "fusion_signin", nullptr},
    {"tour_control", "fusion_demo_control", nullptr},
    {"tour_progress", "fusion_demo_progress", nullptr},
    {"set_auto_update", "fusion_set_auto_update", nullptr},
    {"set_seat_takeover", "fusion_set_seat_takeover", nullptr},
    {"set_driving_badge", "fusion_set_driving_badge", nullptr},
    {"set_activity_indicator", "fusion_set_activity_indicator", nullptr},
    {"mcp_enable", "fusion_mcp_enable", "{}"},
    {"aps_signin", "fusion_aps_signin", "{}"},
};

json stop_fusion(StatusService& ctx, const std::string& box) {
  BridgeReply stop = ctx.bridge.call(box, tool::kStop, "{\"reason\":\"dashboard: user clicked Close Fusion\"}");
  if (is_true(stop.data, "success") || !is_true(stop.data, "bridgeDocsOnly")) return std::move(stop.data);
  ctx.bridge.send(box, tool::kKill);
  ctx.clock.sleep_for(seconds(4));
  // Only a readiness answer that says Fusion is down confirms the forced close.
  return json{{"success", read_readiness(ctx.bridge, box).stopped},
              {"escalated", true},
              {"gracefulError", stop.error},
              {"_hint",
               "The graceful close was blocked only by the bridge's own generated test documents, so it was "
               "force-closed for you - nothing of yours was at risk."}};
}

}  // namespace

json run_action(const Dispatcher& actions, const ActionRequest& req) {
  StatusService& ctx = actions.runs.status;
  const std::string& box = req.box;
  if (req.action == "tour" || req.action == "import_basic_part") {
    if (!ready_first(actions.runs, box, 240)) {
      return json{{"success", false},
                  {"error", "Fusion did not become ready on " + box_label(box) + " within its measured launch budget"},
                  {"_hint",
                   "Open Settings and read the status cards - a sign-in wall or a stuck launch is reported there."}};
    }
    if (req.action == "tour") return ctx.bridge.call(box, tool::kDemo, kTourArgs).result;
    return actions.import_part(box, req.args);
  }
  if (req.action == "stop") return stop_fusion(ctx, box);
  // The bridge's answer goes back as it came; the status learns whether a launch is under way.
  if (req.action == "start") return start_fusion(ctx, box).result;
  for (const PassThrough& p : kPassThrough) {
    if (req.action == p.verb) return ctx.bridge.call(box, p.tool, p.fixed_args ? p.fixed_args : req.args).result;
  }
  return json{{"error", "unknown action " + req.action},
              {"_hint",
               "Actions: start, stop, signin, tour, tour_progress, set_auto_update, set_seat_takeover, mcp_enable, "
               "aps_signin, import_basic_part."}};
}

void handle_action(const Dispatcher& actions, const Request& request, Stream& stream) {
  StatusService& ctx = actions.runs.status;
  const json& body = request.body;
  ActionRequest req;
  req.action = string_member(body, "action");
  const json* target = member(body, "target");
  req.box = target && target->is_string() ? target->get<std::string>() : request_box(ctx.boxes, request);
  if (!box_usable(stream, req.box)) return;
  req.args = dump_compact(member_or_null(body, "args"));
  ctx.log.append("action " + req.action + " target=" + req.box);
  send_json(stream, run_action(actions, req));
}

void handle_auto_green(const Dispatcher& actions, const Request& request, Stream& stream) {
  const StatusService& ctx = actions.runs.status;
  const std::string box = request_box(ctx.boxes, request);
  if (!box_usable(stream, box)) return;
  const bool force = is_true(request.body, "force");
  if (is_false(actions.settings.load(), "autoGreenOnLaunch") && !force) {
    send_json(stream,
              json{{"ok", true},
                   {"started", false},
                   {"_hint",
                    "autoGreenOnLaunch is off - the Dashboard is showing status only (the user's choice, sticky)."}});
    return;
  }
  const bool started = start_green_run(actions.runs, box, force);
  json reply{{"ok", true},
             {"started", started},
             {"target", box},
             {"_hint",
              started ? "Auto-green is running in the BACKGROUND; watch /events for per-step toasts and state pushes."
                      : "A run for THIS box is already in flight (or finished in the last 3 minutes) - joined it "
                        "instead of stacking a second launch."}};
  // A page that opens just after a run says why nothing happens now.
  if (const auto note = started ? std::nullopt : recent_run_note(actions.runs, box)) reply["message"] = *note;
  send_json(stream, reply);
}

}  // namespace loomdeck
