// Fusion's life cycle on a box: readiness, state, start, stop, kill, dialogs, and the bridge's
// desktop window.
#include <algorithm>

#include "model.h"
#include "png.h"
#include "tool_kit.h"
#include "views.h"

namespace sim {

namespace {

Outcome readiness(ToolCtx& ctx) {
  const Box& b = ctx.box;
  json data = {{"ready", is_ready(b)},
               {"running", b.running},
               {"fusionRunning", b.running},
               {"installed", b.installed},
               {"needsSignin", b.needs_signin},
               {"addinVersion", b.addin_version},
               {"bridgeVersion", b.bridge_version},
               {"fusionVersion", b.fusion_version},
               {"lastReadyAt", b.last_ready_at},
               {"lastSignedInAt", b.last_signed_in_at},
               {"fusionUser", b.needs_signin || b.fusion_user.empty() ? json(nullptr) : json{{"user", b.fusion_user}}},
               {"fusionUpdateOffered", b.update_offered},
               {"fusionUpdateHandled", b.update_handled},
               {"launching", b.launch.has_value()}};
  if (b.launch) data["progress"] = launch_progress(b, ctx.now_ms);
  if (!b.signin_wall.empty()) data["signinWall"] = b.signin_wall;
  if (auto busy = main_thread_busy(b)) data["mainThreadBusy"] = *busy;
  if (!b.last_launch_error.empty()) data["lastLaunchError"] = b.last_launch_error;
  if (b.suspended) {
    data["suspended"] = true;
    data["suspendedBy"] = b.suspended_by;
  }
  return reply(data);
}

std::string active_document(const Box& b) { return b.running && !b.documents.empty() ? b.documents.back() : ""; }

Outcome state(ToolCtx& ctx) {
  Box& b = ctx.box;
  std::string doc = active_document(b);
  json out = {{"running", b.running},
              {"addinResponding", addin_responding(b)},
              {"blockingDialogs", b.blocking_dialogs},
              {"activeDocument", doc},
              {"title", b.running ? (doc.empty() ? "Autodesk Fusion" : "Autodesk Fusion - " + doc) : ""},
              {"documents", b.running ? json(b.documents) : json::array()},
              {"timings", launch_timings(b)},
              {"fusionVersion", b.fusion_version},
              {"view", b.view.is_object() ? b.view.value("surface", "") : ""}};
  if (auto busy = main_thread_busy(b)) out["mainThreadBusy"] = *busy;
  if (b.launch) out["progress"] = launch_progress(b, ctx.now_ms);
  if (string_at(ctx.args, "imageAs") == "base64") {
    if (b.capture_blank > 0) {
      --b.capture_blank;
      out["screenshotBase64"] = "";
    } else {
      std::string surface = b.running ? (b.view.is_object() ? b.view.value("surface", "home") : "home") : "desktop";
      std::string caption = b.running ? (b.view.is_object() ? b.view.value("deviceset", "") : doc) : ctx.target;
      out["screenshotBase64"] = base64(render_view_png(surface, caption));
    }
  } else if (bool_at(ctx.args, "screenshot", false)) {
    out["screenshotPath"] = "C:/Users/pell/AppData/Local/Temp/ovra-bridge/screen-" + std::to_string(b.calls) + ".png";
  }
  return reply(out);
}

Outcome start(ToolCtx& ctx) {
  Box& b = ctx.box;
  if (!b.installed)
    return reply({{"success", false},
                  {"error", "Fusion is not installed on " + ctx.target},
                  {"_hint", "Install Autodesk Fusion on that box first; the bridge cannot launch it."}});
  if (b.running) return reply({{"success", true}, {"alreadyRunning", true}, {"message", "Fusion is already running on " + ctx.target}});
  if (b.launch)
    return reply({{"success", true},
                  {"alreadyLaunching", true},
                  {"message", "Fusion is already launching on " + ctx.target},
                  {"progress", launch_progress(b, ctx.now_ms)}});
  // One Autodesk seat: a Fusion live elsewhere either hands the seat over or keeps it.
  std::string holder;
  for (auto& [name, other] : ctx.boxes)
    if (name != ctx.target && other.running) holder = name;
  json out = {{"success", true}, {"launching", true}, {"background", true}};
  if (!holder.empty() && b.auto_take_over_seat) {
    Box& other = ctx.boxes.at(holder);
    end_fusion(other, ctx.now_ms, "Fusion was suspended: the Autodesk seat moved to " + ctx.target, true);
    other.suspended = true;
    other.suspended_by = ctx.target;
    out["seatTakenFrom"] = holder;
    begin_launch(b, ctx.now_ms, true, "");
  } else if (!holder.empty()) {
    begin_launch(b, ctx.now_ms, false, "the Autodesk seat is in use on " + holder + " (autoTakeOverSeat is off)");
    out["seatBusyOn"] = holder;
  } else {
    begin_launch(b, ctx.now_ms, true, "");
  }
  out["message"] = "Launching Fusion on " + ctx.target + " in the background";
  out["expectedSec"] = b.launch->estimate_sec;
  return reply(out);
}

Outcome stop(ToolCtx& ctx) {
  Box& b = ctx.box;
  std::string reason = string_at(ctx.args, "reason");
  if (!b.running && b.launch) {
    end_fusion(b, ctx.now_ms, "Fusion was closed: " + reason, false);
    return reply({{"success", true}, {"cancelledLaunch", true}, {"reason", reason}});
  }
  if (!b.running) return reply({{"success", true}, {"wasRunning", false}, {"message", "Fusion is not running on " + ctx.target}});
  if (!b.documents.empty()) {
    bool only_tests = std::all_of(b.documents.begin(), b.documents.end(), contains_test_marker);
    std::string names;
    for (const auto& d : b.documents) names += (names.empty() ? "" : ", ") + d;
    return reply({{"success", false},
                  {"bridgeDocsOnly", only_tests},
                  {"openDocuments", b.documents},
                  {"error", "Fusion has " + std::to_string(b.documents.size()) +
                                " open document(s) that would prompt on close: " + names},
                  {"_hint", only_tests ? "Only the bridge's own generated test documents are open - fusion_kill closes Fusion "
                                         "without risk to the user's work."
                                       : "Save and close them in Fusion first; fusion_kill would force-close and lose "
                                         "unsaved changes."}});
  }
  end_fusion(b, ctx.now_ms, "Fusion was closed: " + reason, false);
  return reply({{"success", true}, {"stopped", true}, {"reason", reason}});
}

Outcome kill(ToolCtx& ctx) {
  Box& b = ctx.box;
  bool was = b.running || b.launch.has_value();
  end_fusion(b, ctx.now_ms, "Fusion was killed", false);
  b.suspended = false;
  b.suspended_by.clear();
  return reply({{"success", true}, {"killed", was}});
}

Outcome dismiss(ToolCtx& ctx) {
  json dismissed = ctx.box.blocking_dialogs;
  ctx.box.blocking_dialogs.clear();
  return reply({{"success", true}, {"dismissed", dismissed}});
}

Outcome pup_open_window(ToolCtx& ctx) {
  std::string url = string_at(ctx.args, "url");
  if (url.empty()) return reply({{"status", "error"}, {"error", "pup_open_window needs a url"}, {"_hint", "Pass {\"url\": \"http://...\"}."}});
  Box& b = ctx.box;
  b.pup_windows.push_back(url);
  if (b.pup_windows.size() > 8) b.pup_windows.erase(b.pup_windows.begin());
  bool background = bool_at(ctx.args, "background", false);
  return reply({{"status", "ok"},
                {"window", "pup-" + std::to_string(b.calls)},
                {"url", url},
                {"background", background},
                {"message", background ? "Opened in a background window; the taskbar button flashes" : "Opened"}});
}

}  // namespace

const std::vector<ToolDef>& fusion_tools() {
  static const std::vector<ToolDef> defs = {
      {"fusion_readiness", readiness, true, false},
      {"fusion_state", state, false, false},
      {"fusion_start", start, false, true},
      {"fusion_stop", stop, false, false},
      {"fusion_kill", kill, false, false},
      {"fusion_dismiss_blocking_dialogs", dismiss, false, false},
      {"pup_open_window", pup_open_window, false, false},
  };
  return defs;
}

}  // namespace sim
