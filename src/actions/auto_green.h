#pragma once

#include <optional>
#include <string>

#include "actions/green_run_registry.h"
#include "bridge/status_service.h"

namespace loomdeck {

// The background drive-to-green runs: the status service they read and push through, and at most
// one run per box, none again within 180 s of the last.
class GreenRuns {
 public:
  explicit GreenRuns(StatusService& status) : status(status) {}
  GreenRuns(const GreenRuns&) = delete;
  GreenRuns& operator=(const GreenRuns&) = delete;

  StatusService& status;
  GreenRunRegistry registry;
};

// Starts a background drive-to-green run on the box: true when started, false when a run is in
// flight or finished less than 180 s ago (unless forced) and the caller joins it instead.
bool start_green_run(GreenRuns& runs, const std::string& box, bool force);

// Why a run for the box was joined rather than started, for the user: "<box> was driven to green
// <n> min ago - press Set up to run it again" while a finished run is less than 180 s old; nothing
// while one is in flight (its toasts speak for it) or when none ran lately.
std::optional<std::string> recent_run_note(const GreenRuns& runs, const std::string& box);

// The run itself: launch (never taking the seat from a box where Fusion is live), wait for the
// add-in, drive sign-in, heal, MCP, APS, then say what is still not green.
void green_run(GreenRuns& runs, const std::string& box);

}  // namespace loomdeck
