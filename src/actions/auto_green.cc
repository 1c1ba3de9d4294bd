#include "actions/auto_green.h"

#include <exception>
#include <vector>

#include "actions/launch.h"
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
    const std::string name = string_member(t, "name");
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
  ctx.launch_failure_hints.set(box, text);
  // The starter marked a launch in flight; none will happen, so the Fusion LED must show the
  // seat text rather than "Opening Fusion right now".
  ctx.launches_in_flight.erase(box);
  ctx.green_runs.finish(box, ctx.clock.now());
  refresh_status(ctx, box);
}

// Up to 30 passes of 10 s, until the add-in serves or a sign-in wall stops the launch.
json wait_for_addin(const ActionContext& ctx, const std::string& box) {
  json s;
  for (int pass = 0; pass < 30; ++pass) {
    ctx.clock.sleep_for(seconds(10));
    s = refresh_status(ctx, box);
    if (led_on(s, "addinReady")) break;
    if (led_on(s, "fusionRunning") && !led_on(s, "signedIn") && led_state(s, "signedIn") == "off") break;
  }
  return s;
}

// Launches Fusion, waits for its add-in and keeps (or clears) the text the Fusion LED shows.
void launch_and_wait(const ActionContext& ctx, const std::string& box) {
  ctx.launches_in_flight.set(box, ctx.clock.now());
  ctx.sink.broadcast("state", server_status(ctx, box, true));
  ctx.bridge.send(box, "fusion_start");
  const json s = wait_for_addin(ctx, box);
  ctx.launches_in_flight.erase(box);
  if (led_on(s, "addinReady")) {
    ctx.launch_failure_hints.erase(box);
    say(ctx, "Fusion is up and the bridge add-in is serving", "ok");
    return;
  }
  const std::string why =
      led_on(s, "fusionRunning")
          ? "Fusion launched but its bridge add-in never came up - press Start Fusion to retry, or check for a sign-in wall."
          : "The launch attempt did not take (Autodesk seat busy elsewhere, or a licensing dialog). Press Start Fusion to try again.";
  ctx.launch_failure_hints.set(box, why);
  say(ctx, why, "err");
}

void sign_in_and_heal(const ActionContext& ctx, const std::string& box) {
  const json s = refresh_status(ctx, box);
  if (!led_on(s, "fusionRunning") || led_on(s, "addinReady")) return;
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

}  // namespace

bool start_green_run(const ActionContext& ctx, const std::string& box, bool force) {
  if (!ctx.green_runs.try_begin(box, force, ctx.clock.now())) return false;
  if (!is_true(ctx.bridge.call(box, "fusion_readiness").data, "running")) {
    ctx.launches_in_flight.set(box, ctx.clock.now());
    ctx.launch_failure_hints.erase(box);
  }
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
    ctx.launches_in_flight.erase(box);
    return false;
  }
  return true;
}

void green_run(const ActionContext& ctx, const std::string& box) {
  const json first = refresh_status(ctx, box);
  if (all_main_leds_on(first)) {
    say(ctx, "Everything is already green on this box", "ok");
  } else {
    say(ctx, "Getting " + box + " ready - launching Fusion and its services in the background", "");
    if (!led_on(first, "fusionRunning")) {
      const std::string live = live_box_elsewhere(ctx, box);
      if (!live.empty()) {
        leave_the_seat(ctx, box, live);
        return;
      }
      launch_and_wait(ctx, box);
    }
    sign_in_and_heal(ctx, box);
    enable_mcp(ctx, box);
    sign_in_aps(ctx, box);
  }
  summarise(ctx, box);
  ctx.green_runs.finish(box, ctx.clock.now());
}

}  // namespace loomdeck
