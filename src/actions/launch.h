#pragma once

#include <optional>
#include <string>

#include "bridge/status_service.h"

namespace loomdeck {

// What asking the bridge to launch Fusion came to.
struct LaunchStart {
  json result;                         // the bridge's answer as it came
  std::optional<std::string> refused;  // why Fusion is not starting: the bridge refused, or could not be run
};

// Asks the bridge to launch Fusion on the box. A launch it accepted is in flight from now (and the
// box's last launch failure is forgotten); a refused one is not, and the box's failure text then
// says why Fusion is not starting, with the bridge's or the runner's own reason.
LaunchStart start_fusion(StatusService& status, const std::string& box);

// Reads the bridge's launch progress for the box and passes it on to the pages as a `progress`
// event, and, while `toasted` is false, once as a toast (setting it). Nothing without a launch.
void forward_progress(StatusService& status, const std::string& box, bool& toasted);

// Gets the box ready within `budget_seconds`: launches Fusion in the background when it is not
// running (at most every 75 s), clears blocking dialogs after 40 s, restarts Fusion once when
// its add-in stays silent past 90 s, and forwards the bridge's launch progress to the pages.
bool ensure_ready(StatusService& status, const std::string& box, long long budget_seconds);

// The budget from the box's measured cold launch: max(min, 2·p + 120) when p > 0.
long long launch_budget(const json& fusion_state, long long min_budget_seconds);

// A fresh status (showing a launch in flight as /api/status does) pushed to every page as a
// `state` event.
BoxStatus refresh_status(StatusService& status, const std::string& box);

}  // namespace loomdeck
