#include "actions/auto_green.h"

#include <cctype>
#include <exception>
#include <vector>

#include "actions/launch.h"
#include "bridge/readiness.h"
#include "bridge/targets.h"
#include "core/box_name.h"
#include "core/text.h"

namespace loomdeck {

namespace {

using std::chrono::seconds;

// Every step is told on the pages and in the server log.
void say(StatusService& ctx, const std::string& message, const char* kind) {
  toast(ctx.sink, message, kind);
  ctx.log.append("auto-green: " + message);
}

bool all_main_leds_on(const BoxStatus& s) {
  return s.on(LedId::kFusionRunning) && s.on(LedId::kAddinReady) && s.on(LedId::kAps) && s.on(LedId::kMcp);
}

// Another box where Fusion runs right now (it holds the one Autodesk seat), or empty.
std::string live_box_elsewhere(StatusService& ctx, const std::string& box) {
  for (const std::string& name : listed_box_names(ctx.bridge.bridge)) {
    if (name.empty() || ascii_lower(name) == ascii_lower(box)) continue;
    if (read_readiness(ctx.bridge, name).running) return name;
  }
  return "";
}

// Ends the run without launching: the seat stays with the box where Fusion is live.
void leave_the_seat(GreenRuns& runs, const std::string& box, const std::string& live) {
  StatusService& ctx = runs.status;
  const std::string text = "Fusion is live on " + live +
                           " right now - starting it here would take the one Autodesk seat and suspend that box "
                           "mid-work. Press Start Fusion to take the seat deliberately.";
  say(ctx, text, "");
  if (ctx.known_boxes.keeps(box, false)) ctx.launch_failure_hints.set(box, text);
  runs.registry.finish(box, ctx.clock.now());
  refresh_status(ctx, box);
}

// Fusion is up and stopped at the Autodesk sign-in: its add-in waits for the user, not for a fix.
bool at_signin_wall(const BoxStatus& s) {
  return s.on(LedId::kFusionRunning) && !s.on(LedId::kSignedIn) && s.led(LedId::kSignedIn).state == "off";
}

// Up to 30 passes of 10 s, until the add-in serves or a sign-in wall stops the launch; the
// bridge's launch progress goes to the pages every 5 s, as ensure_ready's passes send it.
BoxStatus wait_for_addin(StatusService& ctx, const std::string& box, bool& progress_toasted) {
  BoxStatus s;
  for (int pass = 0; pass < 30; ++pass) {
    ctx.clock.sleep_for(seconds(5));
    forward_progress(ctx, box, progress_toasted);
    ctx.clock.sleep_for(seconds(5));
    s = refresh_status(ctx, box);
    if (s.on(LedId::kAddinReady) || at_signin_wall(s)) break;
    forward_progress(ctx, box, progress_toasted);
  }
  return s;
}

// Launches Fusion, waits for its add-in and keeps (or clears) the text the Fusion LED shows.
// False when the launch did not even start: the bridge refused it or could not be run.
bool launch_and_wait(StatusService& ctx, const std::string& box) {
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
  const BoxStatus s = wait_for_addin(ctx, box, progress_toasted);
  ctx.launches_in_flight.erase(box);
  if (s.on(LedId::kAddinReady)) {
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
  const std::string why = s.on(LedId::kFusionRunning)
                              ? "Fusion launched but its bridge add-in never came up - press Start Fusion to retry, or "
                                "check for a sign-in wall."
                              : "The launch attempt did not take (Autodesk seat busy elsewhere, or a licensing "
                                "dialog). Press Start Fusion to try again.";
  if (ctx.known_boxes.keeps(box, s.unknown_target())) ctx.launch_failure_hints.set(box, why);
  say(ctx, why, "err");
  return true;
}

void sign_in_and_heal(StatusService& ctx, const std::string& box) {
  const BoxStatus s = refresh_status(ctx, box);
  if (!s.on(LedId::kFusionRunning) || s.on(LedId::kAddinReady)) return;
  if (at_signin_wall(s)) say(ctx, "Driving the Autodesk sign-in - only your password is left to you", "");
  const json signin = ctx.bridge.call(box, tool::kSignin).data;
  const json* wall = member(signin, "signinWall");
  if (wall && wall->is_string()) {
    say(ctx, "Fusion needs your Autodesk password - I drove the sign-in to that step for you", "err");
    return;
  }
  say(ctx, "Fusion is up but its add-in is not serving - healing that now", "");
  ensure_ready(ctx, box, 240);
  if (refresh_status(ctx, box).on(LedId::kAddinReady)) say(ctx, "Bridge add-in is serving", "ok");
}

void enable_mcp(StatusService& ctx, const std::string& box) {
  const BoxStatus s = refresh_status(ctx, box);
  if (!s.on(LedId::kAddinReady) || s.on(LedId::kMcp)) return;
  say(ctx, "Turning on the Fusion MCP server", "");
  ctx.bridge.send(box, tool::kMcpEnable);
  if (refresh_status(ctx, box).on(LedId::kMcp)) say(ctx, "Fusion MCP server enabled", "ok");
}

void sign_in_aps(StatusService& ctx, const std::string& box) {
  if (refresh_status(ctx, box).on(LedId::kAps)) return;
  if (!is_true(ctx.bridge.call(box, tool::kApsStatus).data, "configured")) {
    say(ctx, "APS cloud search needs a one-time setup (client id) - use Setup when you want it", "err");
    return;
  }
  say(ctx, "Signing in to APS cloud search", "");
  ctx.bridge.send(box, tool::kApsSignin);
  if (refresh_status(ctx, box).on(LedId::kAps)) say(ctx, "APS cloud search is live", "ok");
}

// Names the LEDs still off (dormant ones excepted), in the payload's order.
void summarise(StatusService& ctx, const std::string& box) {
  const BoxStatus s = refresh_status(ctx, box);
  std::string missing;
  for (const LedId id : kLedIds) {
    const Led& led = s.led(id);
    if (led.on || led.state == "dormant") continue;
    missing += (missing.empty() ? "" : ", ") + std::string(led_key(id));
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

std::optional<std::string> recent_run_note(const GreenRuns& runs, const std::string& box) {
  const StatusService& ctx = runs.status;
  if (runs.registry.in_flight(box)) return std::nullopt;
  const std::optional<Clock::Instant> ended = runs.registry.finished_at(box);
  if (!ended) return std::nullopt;
  const long long age = whole_seconds(*ended, ctx.clock.now());
  if (age >= GreenRunRegistry::kRecentSeconds) return std::nullopt;
  std::string name = box_label(box);
  name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  return name + " was driven to green " + recent_run_age(age) + " - press Set up to run it again";
}

bool start_green_run(GreenRuns& runs, const std::string& box, bool force) {
  StatusService& ctx = runs.status;
  if (!runs.registry.try_begin(box, force, ctx.clock.now())) return false;
  // The launch is marked in flight only once the bridge has accepted it (launch_and_wait): an
  // earlier mark would show "starting" for a launch that may never begin. The last failure is
  // forgotten, since this run tries again.
  ctx.launch_failure_hints.erase(box);
  try {
    ctx.in_background([&runs, &ctx, box] {
      try {
        green_run(runs, box);
      } catch (const std::exception& e) {
        ctx.log.append("auto-green: the run on " + box + " stopped on an internal error: " + e.what());
        ctx.launches_in_flight.erase(box);
        runs.registry.finish(box, ctx.clock.now());
      }
    });
  } catch (const std::exception&) {
    runs.registry.finish(box, ctx.clock.now());
    return false;
  }
  return true;
}

void green_run(GreenRuns& runs, const std::string& box) {
  StatusService& ctx = runs.status;
  const BoxStatus first = refresh_status(ctx, box);
  if (all_main_leds_on(first)) {
    say(ctx, "Everything is already green on this box", "ok");
  } else {
    say(ctx, "Getting " + box_label(box) + " ready - launching Fusion and its services in the background", "");
    if (!first.on(LedId::kFusionRunning)) {
      const std::string live = live_box_elsewhere(ctx, box);
      if (!live.empty()) {
        leave_the_seat(runs, box, live);
        return;
      }
      // A launch that never started leaves nothing for the later steps: its reason was said.
      if (!launch_and_wait(ctx, box)) {
        runs.registry.finish(box, ctx.clock.now());
        return;
      }
    }
    sign_in_and_heal(ctx, box);
    enable_mcp(ctx, box);
    sign_in_aps(ctx, box);
  }
  summarise(ctx, box);
  runs.registry.finish(box, ctx.clock.now());
}

}  // namespace loomdeck
