#pragma once

#include <string>

#include "actions/auto_green.h"

namespace loomdeck {

// What the tour, the part import and the surfaces call first: ready at once, or a background
// auto-green run plus ensure_ready within the measured budget.
bool ready_first(GreenRuns& runs, const std::string& box, long long min_budget_seconds);

}  // namespace loomdeck
