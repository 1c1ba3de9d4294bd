#pragma once

#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/json_text.h"
#include "status/box_status.h"

namespace loomdeck {

// The seven probe results a status payload is built from, each already unwrapped.
struct StatusProbes {
  json readiness, aps, mcp, auto_update, seat_takeover, driving_badge, activity_indicator;
};

// The status of one box: seven LEDs, each with the sentence that names its fix.
// `launch_in_flight` (this server started a launch lately) counts only where the readiness
// result does not say itself whether a launch is under way (`launching`).
BoxStatus box_status(const std::string& box, const StatusProbes& probes, const json& settings_file,
                     bool launch_in_flight, Clock::WallTime now);

// Whether `lastReadyAt` (UTC "YYYY-MM-DDTHH:MM:SS", first 19 characters) is more than 900 s
// before `now`. Text too short or with a bad field counts as too old.
bool ready_too_old(const std::string& last_ready_at, Clock::WallTime now);

// Whether a readiness result is an answer from the bridge rather than a failure.
bool bridge_answered(const json& readiness);

}  // namespace loomdeck
