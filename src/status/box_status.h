#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/json_text.h"

namespace loomdeck {

// The seven LEDs of a box, in the order their names sort (the order the payload lists them in).
enum class LedId : std::size_t { kAddinReady, kAps, kDatahub, kFusionRunning, kMcp, kSignedIn, kUpdate };
inline constexpr std::size_t kLedCount = 7;
inline constexpr std::array<LedId, kLedCount> kLedIds = {LedId::kAddinReady,    LedId::kAps, LedId::kDatahub,
                                                         LedId::kFusionRunning, LedId::kMcp, LedId::kSignedIn,
                                                         LedId::kUpdate};

// The LED's name in the payload ("fusionRunning", ...), which the logbook records too.
std::string_view led_key(LedId id);

// One LED. Which of the optional members it shows depends on the LED (see to_json).
struct Led {
  bool on = false;
  std::string label;
  std::string state;  // "on", "off", "starting", "dormant", ...; empty for the LEDs that show none
  std::string hint;   // the sentence that names its fix, for agents as it is
  std::string who;    // as whom it is signed in; empty for nobody
  std::string version;
  bool pending = false;      // an update waits
  std::string wall;          // where the sign-in wall stands, while not signed in
  std::string not_starting;  // why the box's last launch did not start or take
};

// The dashboard's settings as a status payload reports them.
struct StatusSettings {
  bool auto_update_fusion = true;
  bool auto_take_over_seat = true;
  bool auto_green_on_launch = true;
  bool show_driving_badge = true;
  std::string activity_indicator = "progress";
  json demo_part;  // as the settings file has it, null when absent
};

// The status of one box, built from the seven probes (and, while the bridge is silent, from what
// the cache still knows).
struct BoxStatus {
  std::string target;
  bool answered = false;                   // the bridge answered the readiness probe
  std::string overall = "warn";            // "ok" or "warn"
  std::optional<std::string> busy_reason;  // why nothing fresh is known; none once the bridge answered
  json bridge_version;                     // as the bridge gave it, null when absent
  std::array<Led, kLedCount> leds{};
  StatusSettings settings;
  std::string hint;
  // Set when the cache stands in for a bridge that did not answer: how old the shown state is.
  std::optional<long long> last_verified_age_sec;

  const Led& led(LedId id) const { return leds[static_cast<std::size_t>(id)]; }
  Led& led(LedId id) { return leds[static_cast<std::size_t>(id)]; }
  bool on(LedId id) const { return led(id).on; }
  // The word the logbook records for the LED: its state, else "pending", "on" or "off".
  std::string word(LedId id) const;
  // Whether the bridge said it does not know the box.
  bool unknown_target() const;
};

// The one place the payload's member names are spelled.
// The `leds` object alone (the health route shows it without the rest).
json leds_json(const BoxStatus& status);
void to_json(json& out, const BoxStatus& status);

}  // namespace loomdeck
