#pragma once

#include <string>

#include "actions/action_context.h"

namespace loomdeck {

// Gets the box ready within `budget_seconds`: launches Fusion in the background when it is not
// running (at most every 75 s), clears blocking dialogs after 40 s, restarts Fusion once when
// its add-in stays silent past 90 s, and forwards the bridge's launch progress to the pages.
bool ensure_ready(const ActionContext& ctx, const std::string& box, long long budget_seconds);

// The budget from the box's measured cold launch: max(min, 2·p + 120) when p > 0.
long long launch_budget(const json& fusion_state, long long min_budget_seconds);

// What the tour, the part import and the surfaces call first: ready at once, or a background
// auto-green run plus ensure_ready within the measured budget.
bool ready_first(const ActionContext& ctx, const std::string& box, long long min_budget_seconds);

// A fresh status payload (no launch in flight) pushed to every page as a `state` event.
json refresh_status(const StatusContext& status, const std::string& box);

}  // namespace loomdeck
