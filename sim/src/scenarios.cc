#include "scenarios.h"

#include "stamps.h"

namespace sim {

namespace {
constexpr int64_t kHourMs = 3'600'000;

Box ready_box(int64_t now_ms) {
  Box b = closed_box(now_ms);
  b.running = true;
  b.last_ready_at = utc_stamp(now_ms);
  b.last_signed_in_at = utc_stamp(now_ms);
  b.aps_signed_in = true;
  b.mcp_enabled = true;
  b.mcp_last_enabled_at = utc_stamp(now_ms);
  b.last_exit_at_ms = now_ms - 2 * kHourMs;
  return b;
}

World two_boxes(const std::string& name, Box studio, Box bench) {
  World w;
  w.scenario = name;
  w.order = {"Studio", "Bench"};
  w.boxes["Studio"] = std::move(studio);
  w.boxes["Bench"] = std::move(bench);
  return w;
}
}  // namespace

Box closed_box(int64_t now_ms) {
  Box b;
  b.last_ready_at = utc_stamp(now_ms - 20 * kHourMs);
  b.last_signed_in_at = utc_stamp(now_ms - 20 * kHourMs);
  b.launch_history = {18, 20, 23};
  b.launch_seconds = 20;
  return b;
}

const std::vector<ScenarioInfo>& scenarios() {
  static const std::vector<ScenarioInfo> list = {
      {"demo", "Studio and Bench: Fusion installed but closed, signed in earlier, APS configured but signed out, MCP off"},
      {"signed-in", "Studio running, ready, signed in, APS and MCP on: everything green"},
      {"signin-wall", "Studio closed and signed out: a launch stops at the Autodesk sign-in"},
      {"silent-addin", "Studio running but its bridge add-in stays silent until Fusion is restarted"},
      {"seat-elsewhere", "Fusion live and green on Bench, Studio closed"},
      {"busy", "Studio's bridge does not answer at all"},
      {"aps-unconfigured", "Studio green except APS, which has no client id"},
      {"launch-fails", "Studio closed, and its launches do not take"},
      {"update-waiting", "Studio green, with a Fusion update waiting and auto-update off"},
  };
  return list;
}

std::optional<World> make_scenario(const std::string& name, int64_t now_ms) {
  Box studio = closed_box(now_ms), bench = closed_box(now_ms);
  bench.launch_seconds = 25;
  bench.launch_history = {22, 25, 27};
  if (name == "demo") return two_boxes(name, studio, bench);
  if (name == "signed-in") return two_boxes(name, ready_box(now_ms), bench);
  if (name == "signin-wall") {
    studio.needs_signin = true;
    studio.last_signed_in_at = utc_stamp(now_ms - 30 * 24 * kHourMs);
    return two_boxes(name, studio, bench);
  }
  if (name == "silent-addin") {
    studio.running = true;
    studio.addin_silent = true;
    return two_boxes(name, studio, bench);
  }
  if (name == "seat-elsewhere") return two_boxes(name, studio, ready_box(now_ms));
  if (name == "busy") {
    Box b = ready_box(now_ms);
    b.bridge_responsive = false;
    return two_boxes(name, b, bench);
  }
  if (name == "aps-unconfigured") {
    Box b = ready_box(now_ms);
    b.aps_configured = false;
    b.aps_signed_in = false;
    return two_boxes(name, b, bench);
  }
  if (name == "launch-fails") {
    studio.launches_take = false;
    return two_boxes(name, studio, bench);
  }
  if (name == "update-waiting") {
    Box b = ready_box(now_ms);
    b.auto_update_fusion = false;
    b.update_offered = true;
    return two_boxes(name, b, bench);
  }
  return std::nullopt;
}

}  // namespace sim
