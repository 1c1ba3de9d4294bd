#include "bridge/status_payload.h"

#include <optional>
#include <vector>

#include "core/version.h"

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

json who(const std::string& name) { return name.empty() ? json(nullptr) : json(name); }

// Code points of valid UTF-8 text.
std::vector<char32_t> code_points(const std::string& s) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += len;
  }
  return out;
}

std::optional<long long> field(const std::vector<char32_t>& cps, std::size_t from, std::size_t len) {
  long long v = 0;
  for (std::size_t k = from; k < from + len; ++k) {
    if (cps[k] < U'0' || cps[k] > U'9') return std::nullopt;
    v = v * 10 + (cps[k] - U'0');
  }
  return v;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
long long days_from_civil(long long y, long long m, long long d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

bool ready_too_old(const std::string& last_ready_at, Clock::WallTime now) {
  if (last_ready_at.empty()) return false;
  const std::vector<char32_t> cps = code_points(last_ready_at);
  if (cps.size() < 19) return true;
  const auto year = field(cps, 0, 4), month = field(cps, 5, 2), day = field(cps, 8, 2);
  const auto hour = field(cps, 11, 2), minute = field(cps, 14, 2), second = field(cps, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return true;
  if (*month < 1 || *month > 12 || *day < 1 || *day > 31) return true;
  const long long then = days_from_civil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second;
  const long long now_s = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  return now_s - then > 900;
}

bool bridge_answered(const json& r) {
  const json* version = member(r, "bridgeVersion");
  return (version && !version->is_null()) || member(r, "running") || member(r, "installed");
}

json status_payload(const std::string& box, const StatusProbes& p, const json& settings_file, bool launch_in_flight,
                    Clock::WallTime now) {
  const json& R = p.readiness;
  const bool running = bool_member(R, "fusionRunning").value_or(bool_member(R, "running").value_or(false));
  const bool ready = is_true(R, "ready");
  const bool needs_signin = is_true(R, "needsSignin");
  const std::string addin_version = string_member(R, "addinVersion");
  const std::string last_signed_in_at = string_member(R, "lastSignedInAt");
  const std::string last_ready_at = string_member(R, "lastReadyAt");
  const bool update_offered = is_true(R, "fusionUpdateOffered");
  const bool update_handled = is_true(R, "fusionUpdateHandled");
  const bool too_old = ready_too_old(last_ready_at, now);

  const json& A = p.aps;
  std::optional<bool> aps_flag = bool_member(A, "signedIn");
  if (!aps_flag) aps_flag = bool_member(A, "configured");
  const bool aps_on = (aps_flag && *aps_flag) || is_true(A, "ready");
  std::string aps_who;
  if (const json* as = member(A, "signedInAs")) {
    aps_who = string_member(*as, "email");
    if (aps_who.empty() && !(member(*as, "email") && member(*as, "email")->is_string())) aps_who = string_member(*as, "name");
  }

  const bool mcp_on = is_true(p.mcp, "enabled");
  const std::string last_enabled_at = string_member(p.mcp, "lastEnabledAt");
  std::string fusion_user;
  if (const json* fu = member(R, "fusionUser")) fusion_user = string_member(*fu, "user");

  const bool answered = bridge_answered(R);
  std::string state = "warn";
  if (answered && (!running || ready || !last_ready_at.empty())) state = "ok";

  json leds = json::object();
  leds["fusionRunning"] = {
      {"on", running},
      {"label", "Fusion running"},
      {"state", running ? "on" : launch_in_flight ? "starting" : "off"},
      {"_hint", running ? "Fusion is up."
                : launch_in_flight
                    ? "Opening Fusion right now - launching in the background and waiting for its bridge add-in. This usually takes under a minute."
                    : "fusion_start launches it in the BACKGROUND (never steals focus)."},
  };

  std::string addin_state, addin_hint;
  if (ready) {
    addin_state = "on";
    addin_hint = "Add-in serving - all fusion_* verbs live.";
  } else if (!running && !last_ready_at.empty()) {
    addin_state = "dormant";
    addin_hint = fill("Dormant - resumes when Fusion starts (last verified {}).", last_ready_at);
  } else if (!running || last_ready_at.empty()) {
    addin_state = "off";
    addin_hint = kNotServing;
  } else if (!too_old) {
    addin_state = "busy";
    addin_hint = fill("Busy or still starting - Fusion is up and the add-in was serving at {}. A long verb (a tour, a 3D build) occupies its main thread, so readiness answers not-ready until it finishes.", last_ready_at);
  } else {
    addin_state = "stale";
    addin_hint = fill("Stuck? Not serving since {} - a long verb never runs this long. Bounce it: fusion_stop then fusion_start (that also loads any newer installed add-in).", last_ready_at);
  }
  leds["addinReady"] = {{"on", ready}, {"label", "Bridge add-in"}, {"version", addin_version}, {"state", addin_state}, {"_hint", addin_hint}};

  const bool signed_in = running && !needs_signin;
  std::string signin_hint;
  if (needs_signin) {
    signin_hint = "fusion_signin {email} self-drives the whole wall: launches, clicks, types the email, toasts the user ONLY at their password.";
  } else if (!running && !last_signed_in_at.empty()) {
    signin_hint = fill("Signed in (verified {}). Unknowable while Fusion is closed - dormant, not broken.", last_signed_in_at);
  } else if (running) {
    signin_hint = "Signed in.";
  } else {
    signin_hint = "Unknown until Fusion runs.";
  }
  leds["signedIn"] = {{"on", signed_in},
                      {"label", "Autodesk sign-in"},
                      {"who", who(fusion_user)},
                      {"state", signed_in ? "on" : (!running && !last_signed_in_at.empty()) ? "dormant" : "off"},
                      {"_hint", signin_hint}};

  leds["aps"] = {{"on", aps_on},
                 {"label", "APS cloud search"},
                 {"who", who(aps_who)},
                 {"_hint", aps_on ? "fusion_aps_search gives ~2s cloud lookups."
                                  : "Not configured: fusion_aps_set_client_id then fusion_aps_signin (silent when the browser session is warm)."}};

  const bool mcp_dormant = !mcp_on && !running && !last_enabled_at.empty();
  leds["mcp"] = {{"on", mcp_on},
                 {"label", "Fusion MCP server"},
                 {"state", mcp_on ? "on" : mcp_dormant ? "dormant" : "off"},
                 {"_hint", mcp_dormant ? fill("Enabled in Fusion's preferences (verified {}) - resumes when Fusion starts.", last_enabled_at)
                           : mcp_on    ? "fusion_mcp_call drives Autodesk's own MCP tools."
                                       : "fusion_mcp_enable turns it on (~10s, drives the Preferences dialog with a caption)."}};

  leds["datahub"] = {{"on", aps_on},
                     {"label", "Data Hub API"},
                     {"who", who(aps_who)},
                     {"_hint", "Data Hub rides the APS auth: file listings, versions, urn resolution via fusion_aps_get."}};

  const bool up_to_date = !update_offered || update_handled;
  leds["update"] = {{"on", up_to_date},
                    {"label", "Fusion up to date"},
                    {"pending", update_offered && !update_handled},
                    {"_hint", up_to_date ? "No pending update (auto-update clicks nags silently by default; sticky opt-out via fusion_set_auto_update)."
                                         : "An update is WAITING. Auto-update normally clicks it silently; offer to run it now."}};

  const json* stored_green = member(settings_file, "autoGreenOnLaunch");
  const std::string indicator = string_member(p.activity_indicator, "activityIndicator", "progress");
  json settings = {
      {"autoUpdateFusion", bool_member(p.auto_update, "autoUpdateFusion").value_or(true)},
      {"autoTakeOverSeat", bool_member(p.seat_takeover, "autoTakeOverSeat").value_or(true)},
      {"autoGreenOnLaunch", stored_green && stored_green->is_boolean() ? stored_green->get<bool>() : true},
      {"showDrivingBadge", bool_member(p.driving_badge, "showDrivingBadge").value_or(true)},
      {"activityIndicator", indicator},
      {"demoPart", member_or_null(settings_file, "demoPart")},
  };

  json busy_reason = nullptr;
  if (!answered) {
    const std::string error = string_member(R, "error");
    busy_reason = error.empty() ? "the bridge did not answer (busy running a long verb?)" : error;
  }

  return json{{"state", state},
              {"target", box},
              {"answered", answered},
              {"busyReason", busy_reason},
              {"dashboardVersion", LOOMDECK_VERSION},
              {"bridgeVersion", member_or_null(R, "bridgeVersion")},
              {"leds", leds},
              {"settings", settings},
              {"_hint", kPayloadHint}};
}

}  // namespace loomdeck
