// The bridge's tools as pure functions over the locked boxes and an instant.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "box.h"

namespace sim {

struct Answer {
  json body;
  int exit_code = 0;
};

// A caller that must wait for a timed verb: it sleeps until deadline_ms (the op's end, or the
// relay window's end when the verb runs longer), then collects the answer.
struct Pending {
  std::string op_id;
  std::string verb;
  int64_t deadline_ms = 0;
  double relay_window_seconds = 0;
};

struct Outcome {
  Answer answer;
  std::optional<Pending> wait;
};

// The boxes a call has locked, by name.
using Boxes = std::map<std::string, Box>;

// What a call may learn from outside the boxes: the instant, and the size of a file in the
// container (for send_files), nullopt when it cannot be read.
struct CallEnv {
  int64_t now_ms = 0;
  std::function<std::optional<int64_t>(const std::string&)> local_file_size;
};

bool tool_known(const std::string& tool);
// Tools that look at every box (the seat hand-over of fusion_start); the rest lock only their own.
bool tool_needs_all_boxes(const std::string& tool);
std::vector<std::string> tool_names();

// Runs one tool on `target` (present in `boxes`) after advancing every locked box to now.
Outcome run_tool(const std::string& tool, const json& args, const std::string& target, Boxes& boxes,
                 const CallEnv& env);
// After the wait: the op's own answer, or the relay time-out when the verb is still running.
Answer collect(const std::string& tool, const Box& box, const Pending& pending);

// The bridge's own error shape.
json bridge_error(const std::string& error, const std::string& hint);

}  // namespace sim
