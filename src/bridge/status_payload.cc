#include "bridge/status_payload.h"

#include <chrono>
#include <optional>
#include <vector>

#include "bridge/readiness.h"
#include "core/text.h"
#include "core/utf8.h"

namespace loomdeck {

namespace {

constexpr const char* kPayloadHint =
    "This is the Dashboard status payload. Every LED carries its own _hint naming the verb that fixes it. POST "
    "/api/action {action, args} to act; GET /api/status to re-read; subscribe to /events (SSE) for live pushes; POST "
    "/ui/toast {message,kind} to narrate on top of the app.";
constexpr const char* kNotServing =
    "Not serving. If needsSignin, run fusion_signin - it self-drives to the password step.";

// Puts `value` where the first "{}" stands.
std::string fill(std::string text, const std::string& value) {
  const std::size_t at = text.find("{}");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

std::optional<long long> field(const std::vector<char32_t>& cps, std::size_t from, std::size_t len) {
  const std::optional<unsigned long long> value = parse_digits(std::u32string_view(cps.data() + from, len));
  if (!value) return std::nullopt;
  return static_cast<long long>(*value);
}

// "YYYY-MM-DDTHH:MM:SS" (UTC) from the first 19 characters, the separators not examined; a day
// past the month's end runs on into the next month.
std::optional<std::chrono::sys_seconds> utc_time(const std::string& text) {
  const std::vector<char32_t> cps = code_points(text);
  if (cps.size() < 19) return std::nullopt;
  const auto year = field(cps, 0, 4), month = field(cps, 5, 2), day = field(cps, 8, 2);
  const auto hour = field(cps, 11, 2), minute = field(cps, 14, 2), second = field(cps, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (*month < 1 || *month > 12 || *day < 1 || *day > 31) return std::nullopt;
  const std::chrono::sys_days date = std::chrono::year_month_day{std::chrono::year(static_cast<int>(*year)),
                                                                 std::chrono::month(static_cast<unsigned>(*month)),
                                                                 std::chrono::day(static_cast<unsigned>(*day))};
  return date + std::chrono::hours(*hour) + std::chrono::minutes(*minute) + std::chrono::seconds(*second);
}

// What the APS probe (A) says: signed in (or configured, or ready), and as whom.
struct Aps {
  bool on = false;
  bool configured = false;  // a client id is set: signing in is all that is left
  std::string who;
};

Aps read_aps(const json& a) {
  Aps out;
  std::optional<bool> flag = bool_member(a, "signedIn");
  if (!flag) flag = bool_member(a, "configured");
  out.on = (flag && *flag) || is_true(a, "ready");
  out.configured = is_true(a, "configured");
  if (const json* as = member(a, "signedInAs")) {
    const json* email = member(*as, "email");
    out.who = email && email->is_string() ? email->get<std::string>() : string_member(*as, "name");
  }
  return out;
}

// What the MCP probe (M) says.
struct Mcp {
  bool on = false;
  std::string last_enabled_at;
};

Mcp read_mcp(const json& m) { return {is_true(m, "enabled"), string_member(m, "lastEnabledAt")}; }

// "ok" once the bridge answered and Fusion is down, ready, or was seen ready before.
std::string overall_state(bool answered, const Readiness& r) {
  return answered && (!r.running || r.ready || !r.last_ready_at.empty()) ? "ok" : "warn";
}

Led fusion_running_led(const Readiness& r) {
  Led led;
  led.on = r.running;
  led.label = "Fusion running";
  led.state = r.running ? "on" : r.launching ? "starting" : "off";
  led.hint = r.running     ? "Fusion is up."
             : r.launching ? "Opening Fusion right now - launching in the background and waiting for its bridge "
                             "add-in. This usually takes under a minute."
                           : "fusion_start launches it in the BACKGROUND (never steals focus).";
  return led;
}

Led addin_led(const Readiness& r, bool too_old) {
  Led led;
  led.on = r.ready;
  led.label = "Bridge add-in";
  led.version = r.addin_version;
  if (r.ready) {
    led.state = "on";
    led.hint = "Add-in serving - all fusion_* verbs live.";
  } else if (!r.running && !r.last_ready_at.empty()) {
    led.state = "dormant";
    led.hint = fill("Dormant - resumes when Fusion starts (last verified {}).", r.last_ready_at);
  } else if (!r.running) {
    led.state = "off";
    led.hint = kNotServing;
  } else if (r.launching) {
    // Fusion's process is up while its launch is still landing: a cold launch, not a stuck add-in.
    led.state = "starting";
    led.hint = "Starting - Fusion is launching and its bridge add-in comes up when the launch lands.";
  } else if (r.last_ready_at.empty()) {
    led.state = "off";
    led.hint = kNotServing;
  } else if (!too_old) {
    led.state = "busy";
    led.hint = fill(
        "Busy or still starting - Fusion is up and the add-in was serving at {}. A long verb (a tour, a 3D build) "
        "occupies its main thread, so readiness answers not-ready until it finishes.",
        r.last_ready_at);
  } else {
    led.state = "stale";
    led.hint = fill(
        "Stuck? Not serving since {} - a long verb never runs this long. Bounce it: fusion_stop then fusion_start "
        "(that also loads any newer installed add-in).",
        r.last_ready_at);
  }
  return led;
}

Led signin_led(const Readiness& r) {
  const bool signed_in = r.running && !r.needs_signin;
  const bool dormant = !r.running && !r.last_signed_in_at.empty();
  Led led;
  led.on = signed_in;
  led.label = "Autodesk sign-in";
  led.who = r.fusion_user;
  led.state = signed_in ? "on" : dormant ? "dormant" : "off";
  if (r.needs_signin) {
    led.hint =
        "fusion_signin {email} self-drives the whole wall: launches, clicks, types the email, toasts the user ONLY at "
        "their password.";
  } else if (dormant) {
    led.hint =
        fill("Signed in (verified {}). Unknowable while Fusion is closed - dormant, not broken.", r.last_signed_in_at);
  } else if (r.running) {
    led.hint = "Signed in.";
  } else {
    led.hint = "Unknown until Fusion runs.";
  }
  // Where the sign-in wall stands ("email", "password"): at the password only the user can go on.
  if (!signed_in) led.wall = r.signin_wall;
  return led;
}

// An LED of the APS sign-in (APS itself, the Data Hub riding on it).
Led aps_signed_in_led(const Aps& aps, const char* label) {
  Led led;
  led.on = aps.on;
  led.label = label;
  led.who = aps.who;
  return led;
}

Led aps_led(const Aps& aps) {
  Led led = aps_signed_in_led(aps, "APS cloud search");
  led.hint = aps.on ? "fusion_aps_search gives ~2s cloud lookups."
             : aps.configured
                 ? "Configured, not signed in: fusion_aps_signin (silent when the browser session is warm)."
                 : "Not configured: fusion_aps_set_client_id then fusion_aps_signin (silent when the browser session "
                   "is warm).";
  return led;
}

Led mcp_led(const Mcp& mcp, const Readiness& r) {
  const bool dormant = !mcp.on && !r.running && !mcp.last_enabled_at.empty();
  Led led;
  led.on = mcp.on;
  led.label = "Fusion MCP server";
  led.state = mcp.on ? "on" : dormant ? "dormant" : "off";
  led.hint =
      dormant ? fill("Enabled in Fusion's preferences (verified {}) - resumes when Fusion starts.", mcp.last_enabled_at)
      : mcp.on ? "fusion_mcp_call drives Autodesk's own MCP tools."
               : "fusion_mcp_enable turns it on (~10s, drives the Preferences dialog with a caption).";
  return led;
}

Led datahub_led(const Aps& aps) {
  Led led = aps_signed_in_led(aps, "Data Hub API");
  led.hint = "Data Hub rides the APS auth: file listings, versions, urn resolution via fusion_aps_get.";
  return led;
}

Led update_led(const Readiness& r) {
  Led led;
  led.on = !r.update_offered || r.update_handled;
  led.label = "Fusion up to date";
  led.pending = r.update_offered && !r.update_handled;
  led.hint = led.on ? "No pending update (auto-update clicks nags silently by default; sticky opt-out via "
                      "fusion_set_auto_update)."
                    : "An update is WAITING. Auto-update normally clicks it silently; offer to run it now.";
  return led;
}

// The bridge-side settings from the four `fusion_set_*` reads, the dashboard's own from its file.
StatusSettings settings_of(const StatusProbes& p, const json& settings_file) {
  StatusSettings s;
  s.auto_update_fusion = bool_member(p.auto_update, "autoUpdateFusion").value_or(true);
  s.auto_take_over_seat = bool_member(p.seat_takeover, "autoTakeOverSeat").value_or(true);
  s.auto_green_on_launch = bool_member(settings_file, "autoGreenOnLaunch").value_or(true);
  s.show_driving_badge = bool_member(p.driving_badge, "showDrivingBadge").value_or(true);
  s.activity_indicator = string_member(p.activity_indicator, "activityIndicator", "progress");
  s.demo_part = member_or_null(settings_file, "demoPart");
  return s;
}

// Null once the bridge answered; else the readiness error, or the guess that it is busy.
std::optional<std::string> busy_reason(bool answered, const json& readiness) {
  if (answered) return std::nullopt;
  const std::string error = string_member(readiness, "error");
  return error.empty() ? "the bridge did not answer (busy running a long verb?)" : error;
}

}  // namespace

bool ready_too_old(const std::string& last_ready_at, Clock::WallTime now) {
  if (last_ready_at.empty()) return false;
  const std::optional<std::chrono::sys_seconds> then = utc_time(last_ready_at);
  if (!then) return true;
  const auto now_s = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch());
  return now_s - then->time_since_epoch() > std::chrono::seconds(900);
}

bool bridge_answered(const json& r) {
  const json* version = member(r, "bridgeVersion");
  return (version && !version->is_null()) || member(r, "running") || member(r, "installed");
}

BoxStatus box_status(const std::string& box, const StatusProbes& p, const json& settings_file, bool launch_in_flight,
                     Clock::WallTime now) {
  const Readiness r = readiness_of(p.readiness, launch_in_flight);
  const Aps aps = read_aps(p.aps);
  const Mcp mcp = read_mcp(p.mcp);
  BoxStatus status;
  status.target = box;
  status.answered = bridge_answered(p.readiness);
  status.overall = overall_state(status.answered, r);
  status.busy_reason = busy_reason(status.answered, p.readiness);
  status.bridge_version = member_or_null(p.readiness, "bridgeVersion");
  status.led(LedId::kFusionRunning) = fusion_running_led(r);
  status.led(LedId::kAddinReady) = addin_led(r, ready_too_old(r.last_ready_at, now));
  status.led(LedId::kSignedIn) = signin_led(r);
  status.led(LedId::kAps) = aps_led(aps);
  status.led(LedId::kMcp) = mcp_led(mcp, r);
  status.led(LedId::kDatahub) = datahub_led(aps);
  status.led(LedId::kUpdate) = update_led(r);
  status.settings = settings_of(p, settings_file);
  status.hint = kPayloadHint;
  return status;
}

}  // namespace loomdeck
