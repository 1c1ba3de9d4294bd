#include "actions/auto_green.h"

#include <exception>
#include <vector>

#include "actions/launch.h"
#include "bridge/status_service.h"

namespace loomdeck {

namespace {

using std::chrono::seconds;

// Every step is told on the pages and in the server log.
void say(ServerState& state, const std::string& message, const char* kind) {
  state.sink.broadcast("toast", json{{"kind", kind}, {"message", message}});
  state.log.append("auto-green: " + message);
}

bool led_on(const json& payload, const char* led) { return is_true(payload["leds"][led], "on"); }

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Another box where Fusion runs right now (it holds the one Autodesk seat), or empty.
std::string live_box_elsewhere(ServerState& state, const std::string& box) {
  const std::optional<json> listing = state.bridge.targets();
  const json* targets = listing ? member(*listing, "targets") : nullptr;
  if (!targets || !targets->is_array()) return "";
  for (const json& t : *targets) {
    const std::string name = string_member(t, "name");
    if (name.empty() || lower(name) == lower(box)) continue;
    if (is_true(unwrap_bridge_data(state.bridge.call(state.attribution, name, "fusion_readiness", "{}")), "running")) {
      return name;
    }
  }
  return "";
}

// Launches Fusion and waits up to 30 passes of 10 s for the add-in (or a sign-in wall).
void launch_and_wait(ServerState& state, const std::string& box) {
  state.launches_in_flight.set(box, state.clock.now());
  state.sink.broadcast("state", server_status(state, box, true));
  state.bridge.call(state.attribution, box, "fusion_start", "{}");
  json s;
  for (int pass = 0; pass < 30; ++pass) {
    state.clock.sleep_for(seconds(10));
    s = refresh_status(state, box);
    if (led_on(s, "addinReady")) break;
    const json& signin = s["leds"]["signedIn"];
    if (led_on(s, "fusionRunning") && !is_true(signin, "on") && string_member(signin, "state") == "off") break;
  }
  state.launches_in_flight.erase(box);
  if (led_on(s, "addinReady")) {
    state.launch_failure_hints.erase(box);
    say(state, "Fusion is up and the bridge add-in is serving", "ok");
    return;
  }
  const std::string why =
      led_on(s, "fusionRunning")
          ? "Fusion launched but its bridge add-in never came up - press Start Fusion to retry, or check for a sign-in wall."
          : "The launch attempt did not take (Autodesk seat busy elsewhere, or a licensing dialog). Press Start Fusion to try again.";
  state.launch_failure_hints.set(box, why);
  say(state, why, "err");
}

void sign_in_and_heal(ServerState& state, const std::string& box) {
  json s = refresh_status(state, box);
  if (!led_on(s, "fusionRunning") || led_on(s, "addinReady")) return;
  const json signin = unwrap_bridge_data(state.bridge.call(state.attribution, box, "fusion_signin", "{}"));
  const json* wall = member(signin, "signinWall");
  if (wall && wall->is_string()) {
    say(state, "Fusion needs your Autodesk password - I drove the sign-in to that step for you", "err");
    return;
  }
  say(state, "Fusion is up but its add-in is not serving - healing that now", "");
  ensure_ready(state, box, 240);
  if (led_on(refresh_status(state, box), "addinReady")) say(state, "Bridge add-in is serving", "ok");
}

void enable_mcp(ServerState& state, const std::string& box) {
  const json s = refresh_status(state, box);
  if (!led_on(s, "addinReady") || led_on(s, "mcp")) return;
  say(state, "Turning on the Fusion MCP server", "");
  state.bridge.call(state.attribution, box, "fusion_mcp_enable", "{}");
  if (led_on(refresh_status(state, box), "mcp")) say(state, "Fusion MCP server enabled", "ok");
}

void sign_in_aps(ServerState& state, const std::string& box) {
  if (led_on(refresh_status(state, box), "aps")) return;
  const json aps = unwrap_bridge_data(state.bridge.call(state.attribution, box, "fusion_aps_status", "{}"));
  if (!is_true(aps, "configured")) {
    say(state, "APS cloud search needs a one-time setup (client id) - use Setup when you want it", "err");
    return;
  }
  say(state, "Signing in to APS cloud search", "");
  state.bridge.call(state.attribution, box, "fusion_aps_signin", "{}");
  if (led_on(refresh_status(state, box), "aps")) say(state, "APS cloud search is live", "ok");
}

void summarise(ServerState& state, const std::string& box) {
  const json s = refresh_status(state, box);
  std::vector<std::string> missing;
  for (auto it = s["leds"].begin(); it != s["leds"].end(); ++it) {
    if (!is_true(it.value(), "on") && string_member(it.value(), "state") != "dormant") missing.push_back(it.key());
  }
  if (missing.empty()) {
    say(state, "All green - ready to go", "ok");
    return;
  }
  std::string names;
  for (const std::string& m : missing) names += (names.empty() ? "" : ", ") + m;
  say(state, "Ready except: " + names + " (see each card for the exact next step)", "");
}

}  // namespace

bool start_green_run(ServerState& state, const std::string& box, bool force) {
  if (!state.green_runs.try_begin(box, force, state.clock.now())) return false;
  if (!is_true(unwrap_bridge_data(state.bridge.call(state.attribution, box, "fusion_readiness", "{}")), "running")) {
    state.launches_in_flight.set(box, state.clock.now());
    state.launch_failure_hints.erase(box);
  }
  std::shared_ptr<ServerState> keep = state.shared_from_this();
  try {
    state.run_in_background([keep, box] {
      try {
        green_run(*keep, box);
      } catch (const std::exception& e) {
        keep->log.append("auto-green: the run on " + box + " stopped on an internal error: " + e.what());
        keep->launches_in_flight.erase(box);
        keep->green_runs.finish(box, keep->clock.now());
      }
    });
  } catch (const std::exception&) {
    state.green_runs.finish(box, state.clock.now());
    state.launches_in_flight.erase(box);
    return false;
  }
  return true;
}

void green_run(ServerState& state, const std::string& box) {
  const json first = refresh_status(state, box);
  const bool all_on = led_on(first, "fusionRunning") && led_on(first, "addinReady") && led_on(first, "aps") &&
                      led_on(first, "mcp");
  if (all_on) {
    say(state, "Everything is already green on this box", "ok");
  } else {
    say(state, "Getting " + box + " ready - launching Fusion and its services in the background", "");
    if (!led_on(first, "fusionRunning")) {
      const std::string live = live_box_elsewhere(state, box);
      if (!live.empty()) {
        const std::string text = "Fusion is live on " + live +
                                 " right now - starting it here would take the one Autodesk seat and suspend that box "
                                 "mid-work. Press Start Fusion to take the seat deliberately.";
        say(state, text, "");
        state.launch_failure_hints.set(box, text);
        // The starter marked a launch in flight; none will happen, so the Fusion LED must show
        // the seat text rather than "Opening Fusion right now".
        state.launches_in_flight.erase(box);
        state.green_runs.finish(box, state.clock.now());
        refresh_status(state, box);
        return;
      }
      launch_and_wait(state, box);
    }
    sign_in_and_heal(state, box);
    enable_mcp(state, box);
    sign_in_aps(state, box);
  }
  summarise(state, box);
  state.green_runs.finish(box, state.clock.now());
}

}  // namespace loomdeck
