#include "status/box_status.h"

#include "core/version.h"

namespace loomdeck {

namespace {

json who_json(const std::string& who) { return who.empty() ? json(nullptr) : json(who); }

json led_json(LedId id, const Led& led) {
  json out = {{"on", led.on}, {"label", led.label}, {"_hint", led.hint}};
  switch (id) {
    case LedId::kAddinReady:
      out["version"] = led.version;
      out["state"] = led.state;
      break;
    case LedId::kAps:
    case LedId::kDatahub: out["who"] = who_json(led.who); break;
    case LedId::kFusionRunning:
      out["state"] = led.state;
      if (!led.not_starting.empty()) out["notStarting"] = led.not_starting;
      break;
    case LedId::kMcp: out["state"] = led.state; break;
    case LedId::kSignedIn:
      out["who"] = who_json(led.who);
      out["state"] = led.state;
      if (!led.wall.empty()) out["wall"] = led.wall;
      break;
    case LedId::kUpdate: out["pending"] = led.pending; break;
  }
  return out;
}

json settings_json(const StatusSettings& s) {
  return {{"autoUpdateFusion", s.auto_update_fusion},    {"autoTakeOverSeat", s.auto_take_over_seat},
          {"autoGreenOnLaunch", s.auto_green_on_launch}, {"showDrivingBadge", s.show_driving_badge},
          {"activityIndicator", s.activity_indicator},   {"demoPart", s.demo_part}};
}

}  // namespace

std::string_view led_key(LedId id) {
  switch (id) {
    case LedId::kAddinReady: return "addinReady";
    case LedId::kAps: return "aps";
    case LedId::kDatahub: return "datahub";
    case LedId::kFusionRunning: return "fusionRunning";
    case LedId::kMcp: return "mcp";
    case LedId::kSignedIn: return "signedIn";
    case LedId::kUpdate: return "update";
  }
  return "";
}

std::string BoxStatus::word(LedId id) const {
  const Led& l = led(id);
  if (!l.state.empty()) return l.state;
  if (l.pending) return "pending";
  return l.on ? "on" : "off";
}

bool BoxStatus::unknown_target() const { return busy_reason && busy_reason->starts_with("unknown target"); }

json leds_json(const BoxStatus& status) {
  json out = json::object();
  for (const LedId id : kLedIds) out[std::string(led_key(id))] = led_json(id, status.led(id));
  return out;
}

void to_json(json& out, const BoxStatus& status) {
  out = {{"state", status.overall},
         {"target", status.target},
         {"answered", status.answered},
         {"busyReason", status.busy_reason ? json(*status.busy_reason) : json(nullptr)},
         {"dashboardVersion", LOOMDECK_VERSION},
         {"bridgeVersion", status.bridge_version},
         {"leds", leds_json(status)},
         {"settings", settings_json(status.settings)},
         {"_hint", status.hint}};
  if (status.last_verified_age_sec) {
    out["stale"] = true;
    out["lastVerifiedAgeSec"] = *status.last_verified_age_sec;
  }
}

}  // namespace loomdeck
