// The state of one simulated box: Fusion on that desktop, its bridge add-in, the accounts and
// sticky settings the bridge keeps there, and the verbs currently working on it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "json_io.h"

namespace sim {

// A launch in progress: Fusion's process appears at process_up_ms after the start and the launch
// ends (add-in loaded, or the attempt given up) at duration_ms.
struct Launch {
  int64_t started_at_ms = 0;
  int64_t duration_ms = 0;
  int64_t process_up_ms = 0;
  bool takes = true;
  std::string failure;  // why the attempt will not take
  bool silent = false;  // the add-in will stay silent after this launch
  std::string kind = "cold";
  int64_t estimate_sec = 45;
};

// A verb that takes simulated time; it completes in `advance` once until_ms is reached.
struct Op {
  std::string id;
  std::string verb;
  int64_t until_ms = 0;
  json args = json::object();
  bool main_thread = true;
};

struct OpResult {
  std::string id;
  json answer;
};

struct Shot {
  int index = 0;
  std::string step;
  std::string label;
};

// The guided tour run by the bridge's demo runner.
struct Tour {
  std::string demo_id;
  int position = 0;  // index of the step under way
  int64_t step_started_at_ms = 0;
  int64_t step_ms = 6000;
  bool paused = false;
  bool pause_requested = false;
  std::vector<int> skipped;
  std::vector<Shot> shots;
  bool done = false;
  bool failed = false;
  bool exited = false;
  std::string error;
  std::vector<std::string> documents;  // the tour's own test documents
};

struct Box {
  // Fusion itself.
  bool installed = true;
  bool running = false;
  bool addin_silent = false;
  int addin_silent_launches = 0;
  double launch_seconds = 20;
  bool launches_take = true;
  std::optional<Launch> launch;
  std::vector<double> launch_history;
  int64_t last_exit_at_ms = 0;
  std::string last_launch_error;
  bool suspended = false;
  std::string suspended_by;
  std::vector<std::string> blocking_dialogs;
  std::vector<std::string> documents;
  bool update_offered = false;
  bool update_handled = false;
  std::string bridge_version = "3.8.2";
  std::string addin_version = "3.8.2";
  std::string fusion_version = "2.0.21508";
  bool bridge_responsive = true;
  double relay_window_seconds = 60;

  // Autodesk sign-in.
  bool needs_signin = false;
  std::string signin_wall;  // "", "email" or "password"
  double signin_seconds = 4;
  std::string fusion_user = "pell@example.com";
  std::string last_ready_at;
  std::string last_signed_in_at;

  // Sticky bridge settings.
  bool auto_update_fusion = true;
  bool auto_take_over_seat = true;
  bool show_driving_badge = true;
  std::string activity_indicator = "progress";

  // APS cloud search and the Fusion MCP server.
  bool aps_configured = true;
  bool aps_signed_in = false;
  std::string aps_email = "pell@example.com";
  std::string aps_name = "Pell Example";
  double aps_signin_seconds = 2;
  bool mcp_enabled = false;
  std::string mcp_last_enabled_at;
  double mcp_enable_seconds = 3;

  // Parts, design surfaces and the tour.
  std::map<std::string, int64_t> files;         // path on the box -> size in bytes
  std::map<std::string, std::string> bound_models;  // library path -> 3D model path
  json test_project = nullptr;                  // {libraryPath, deviceset} once generated
  json view = nullptr;                          // {surface, deviceset}: what Fusion's window shows
  double project_seconds = 5;
  double surface_seconds = 2;
  double open_lbr_seconds = 2;
  double bind_seconds = 2;
  int capture_blank = 0;                        // upcoming captures that come back empty
  std::optional<Tour> tour;
  double tour_step_seconds = 6;
  std::string tour_fail_at_step;

  // Bookkeeping.
  std::vector<Op> ops;
  std::vector<OpResult> op_results;
  int64_t next_op = 1;
  int64_t calls = 0;
  std::vector<std::string> pup_windows;
};

json box_to_json(const Box& box);
// Reads a state document; on a member of the wrong type returns the complaint instead.
std::optional<Box> box_from_json(const json& j, std::string* error);

}  // namespace sim
