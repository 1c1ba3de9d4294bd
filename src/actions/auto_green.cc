#include "actions/auto_green.h"

#include <cctype>
#include <exception>
#include <vector>

#include "actions/launch.h"
#include "core/box_name.h"
#include "core/text.h"

namespace loomdeck {

namespace {

using std::chrono::seconds;

// Every step is told on the pages and in the server log.
void say(const ActionContext& ctx, const std::string& message, const char* kind) {
  toast(ctx.sink, message, kind);
  ctx.log.append("auto-green: " + message);
}

bool all_main_leds_on(const json& payload) {
  return led_on(payload, "fusionRunning") && led_on(payload, "addinReady") && led_on(payload, "aps") &&
         led_on(payload, "mcp");
}

// Another box where Fusion runs right now (it holds the one Autodesk seat), or empty.
std::string live_box_elsewhere(const ActionContext& ctx, const std::string& box) {
  const std::optional<json> listing = ctx.bridge.targets();
  const json* targets = listing ? member(*listing, "targets") : nullptr;
  if (!targets || !targets->is_array()) return "";
  for (const json& t : *targets) {
    std::string name = string_member(t, "name");
    if (name.empty() || ascii_lower(name) == ascii_lower(box)) continue;
    if (is_true(ctx.bridge.call(name, "fusion_readiness").data, "running")) return name;
  }
  return "";
}

// Ends the run without launching: the seat stays with the box where Fusion is live.
void leave_the_seat(const ActionContext& ctx, const std::string& box, const std::string& live) {
  const std::string text = "Fusion is live on " + live +
                           " right now - starting it here would take the one Autodesk seat and suspend that box "
                           "mid-work. Press Start Fusion to take the seat deliberately.";
  say(ctx, text, "");
  if (ctx.known_boxes.keeps(box, json::object())) ctx.launch_failure_hints.set(box, text);
  ctx.green_runs.finish(box, ctx.clock.now());
  refresh_status(ctx, box);
}

// Fusion is up and stopped at the Autodesk sign-in: its add-in waits for the user, not for a fix.
bool at_signin_wall(const json& s) {
  return led_on(s, "fusionRunning") && !led_on(s, "signedIn") && led_state(s, "signedIn") == "off";
}

// Up to 30 passes of 10 s, until the add-in serves or a sign-in wall stops the launch; the
// bridge's launch progress goes to the pages every 5 s, as ensure_ready's passes send it.
json wait_for_addin(const ActionContext& ctx, const std::string& box, bool& progress_toasted) {
  json s;
  for (int pass = 0; pass < 30; ++pass) {
    ctx.clock.sleep_for(seconds(5));
    forward_progress(ctx, box, progress_toasted);
    ctx.clock.sleep_for(seconds(5));
    s = refresh_status(ctx, box);
    if (led_on(s, "addinReady") || at_signin_wall(s)) break;
    forward_progress(ctx, box, progress_toasted);
  }
  return s;
}

// Launches Fusion, waits for its add-in and keeps (or clears) the text the Fusion LED shows.
// False when the launch did not even start: the bridge refused it or could not be run.
bool launch_and_wait(const ActionContext& ctx, const std::string& box) {
  const LaunchStart start = start_fusion(ctx, box);
  if (start.refused) {
    say(ctx, *start.refused, "err");
    // The pages learn the reason now, on the Fusion LED, not at their next poll.
    refresh_status(ctx, box);
    return false;
  }
  ctx.sink.broadcast("state", server_status(ctx, box, true));
  say(ctx, "Opening Fusion on " + box_label(box), "");
  bool progress_toasted = false;
  forward_progress(ctx, box, progress_toasted);
  const json s = wait_for_addin(ctx, box, progress_toasted);
  ctx.launches_in_flight.erase(box);
  if (led_on(s, "addinReady")) {
    ctx.launch_failure_hints.erase(box);
    say(ctx, "Fusion is up and the bridge add-in is serving", "ok");
    return true;
  }
  // The add-in waits for the user's password, which the sign-in step below drives up to: not a
  // failed launch, and nothing the user should retry.
  if (at_signin_wall(s)) {
    ctx.launch_failure_hints.erase(box);
    say(ctx, "Fusion is up and waiting at the Autodesk sign-in", "");
    return true;
  }
  const std::string why =
      led_on(s, "fusionRunning")
          ? "Fusion launched but its bridge add-in never came up - press Start Fusion to retry, or check for a sign-in wall."
          : "The launch attempt did not take (Autodesk seat busy elsewhere, or a licensing dialog). Press Start Fusion to try again.";
  if (ctx.known_boxes.keeps(box, s)) ctx.launch_failure_hints.set(box, why);
  say(ctx, why, "err");
  return true;
}

void sign_in_and_heal(const ActionContext& ctx, const std::string& box) {
  const json s = refresh_status(ctx, box);
  if (!led_on(s, "fusionRunning") || led_on(s, "addinReady")) return;
  if (at_signin_wall(s)) say(ctx, "Driving the Autodesk sign-in - only your password is left to you", "");
  const json signin = ctx.bridge.call(box, "fusion_signin").data;
  const json* wall = member(signin, "signinWall");
  if (wall && wall->is_string()) {
    say(ctx, "Fusion needs your Autodesk password - I drove the sign-in to that step for you", "err");
    return;
  }
  say(ctx, "Fusion is up but its add-in is not serving - healing that now", "");
  ensure_ready(ctx, box, 240);
  if (led_on(refresh_status(ctx, box), "addinReady")) say(ctx, "Bridge add-in is serving", "ok");
}

void enable_mcp(const ActionContext& ctx, const std::string& box) {
  const json s = refresh_status(ctx, box);
  if (!led_on(s, "addinReady") || led_on(s, "mcp")) return;
  say(ctx, "Turning on the Fusion MCP server", "");
  ctx.bridge.send(box, "fusion_mcp_enable");
  if (led_on(refresh_status(ctx, box), "mcp")) say(ctx, "Fusion MCP server enabled", "ok");
}

void sign_in_aps(const ActionContext& ctx, const std::string& box) {
  if (led_on(refresh_status(ctx, box), "aps")) return;
  if (!is_true(ctx.bridge.call(box, "fusion_aps_status").data, "configured")) {
    say(ctx, "APS cloud search needs a one-time setup (client id) - use Setup when you want it", "err");
    return;
  }
  say(ctx, "Signing in to APS cloud search", "");
  ctx.bridge.send(box, "fusion_aps_signin");
  if (led_on(refresh_status(ctx, box), "aps")) say(ctx, "APS cloud search is live", "ok");
}

// Names the LEDs still off (dormant ones excepted), in the payload's key order.
void summarise(const ActionContext& ctx, const std::string& box) {
  const json s = refresh_status(ctx, box);
  std::string missing;
  if (const json* leds = member(s, "leds")) {
    for (auto it = leds->begin(); it != leds->end(); ++it) {
      if (is_true(it.value(), "on") || string_member(it.value(), "state") == "dormant") continue;
      missing += (missing.empty() ? "" : ", ") + it.key();
    }
  }
  if (missing.empty()) {
    say(ctx, "All green - ready to go", "ok");
    return;
  }
  say(ctx, "Ready except: " + missing + " (see each card for the exact next step)", "");
}

// How long ago a run ended, as the refusal to repeat it says it.
std::string recent_run_age(long long seconds) {
  return seconds < 60 ? "moments ago" : std::to_string(seconds / 60) + " min ago";
}

}  // namespace

std::optional<std::string> recent_run_note(const ActionContext& ctx, const std::string& box) {
  if (ctx.green_runs.in_flight(box)) return std::nullopt;
  const std::optional<Clock::Instant> ended = ctx.green_runs.finished_at(box);
  if (!ended) return std::nullopt;
  const long long age = whole_seconds(*ended, ctx.clock.now());
  if (age >= GreenRunRegistry::kRecentSeconds) return std::nullopt;
  std::string name = box_label(box);
  name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  return name + " was driven to green " + recent_run_age(age) + " - press Set up to run it again";
}

bool start_green_run(const ActionContext& ctx, const std::string& box, bool force) {
  if (!ctx.green_runs.try_begin(box, force, ctx.clock.now())) return false;
  // The launch is marked in flight only once the bridge has accepted it (launch_and_wait): an
  // earlier mark would show "starting" for a launch that may never begin. The last failure is
  // forgotten, since this run tries again.
  ctx.launch_failure_hints.erase(box);
  try {
    ctx.in_background([ctx, box] {
      try {
        green_run(ctx, box);
      } catch (const std::exception& e) {
        ctx.log.append("auto-green: the run on " + box + " stopped on an internal error: " + e.what());
        ctx.launches_in_flight.erase(box);
        ctx.green_runs.finish(box, ctx.clock.now());
      }
    });
  } catch (const std::exception&) {
    ctx.green_runs.finish(box, ctx.clock.now());
    return false;
  }
  return true;
}

void green_run(const ActionContext& ctx, const std::string& box) {
  const json first = refresh_status(ctx, box);
  if (all_main_leds_on(first)) {
    say(ctx, "Everything is already green on this box", "ok");
  } else {
    say(ctx, "Getting " + box_label(box) + " ready - launching Fusion and its services in the background", "");
    if (!led_on(first, "fusionRunning")) {
      const std::string live = live_box_elsewhere(ctx, box);
      if (!live.empty()) {
        leave_the_seat(ctx, box, live);
        return;
      }
      // A launch that never started leaves nothing for the later steps: its reason was said.
      if (!launch_and_wait(ctx, box)) {
        ctx.green_runs.finish(box, ctx.clock.now());
        return;
      }
    }
    sign_in_and_heal(ctx, box);
    enable_mcp(ctx, box);
    sign_in_aps(ctx, box);
  }
  summarise(ctx, box);
  ctx.green_runs.finish(box, ctx.clock.now());
}

}  // namespace loomdeck
