#pragma once

#include <string>

#include "actions/action_context.h"

namespace loomdeck {

// Starts a background drive-to-green run on the box: true when started, false when a run is in
// flight or finished less than 180 s ago (unless forced) and the caller joins it instead.
bool start_green_run(const ActionContext& ctx, const std::string& box, bool force);

// The run itself: launch (never taking the seat from a box where Fusion is live), wait for the
// add-in, drive sign-in, heal, MCP, APS, then say what is still not green.
void green_run(const ActionContext& ctx, const std::string& box);

}  // namespace loomdeck
