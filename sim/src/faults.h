// Injected transport faults: what a matching call suffers instead of (or on top of) its answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json_io.h"

namespace sim {

struct Fault {
  std::string box;   // a box name or "*"
  std::string tool;  // a tool name, "targets", a stand-in program name, or "*"
  std::string kind;  // delay, empty, garbage, badutf8, huge, crash, exit, hang
  std::string value;
  int64_t remaining = -1;  // calls left before the fault clears itself; -1 fires until cleared
};

// Parses `<box|*> <tool|*> <kind> [value] [--count N]`; nullopt with *error on bad input.
std::optional<Fault> parse_fault(const std::vector<std::string>& words, std::string* error);
json faults_to_json(const std::vector<Fault>& faults);
std::vector<Fault> faults_from_json(const json& j);

// The faults a call meets: the delays add up; the first other matching fault decides the output.
struct FaultPlan {
  int64_t delay_ms = 0;
  std::optional<Fault> action;
  std::vector<std::string> fired;  // kinds, for the activity log
};

// Picks the faults for (box, tool) and counts them down, dropping those used up.
FaultPlan take_faults(std::vector<Fault>& faults, const std::string& box, const std::string& tool);

// Faults that replace the call entirely (the tool does not run).
bool fault_replaces_call(const Fault& f);

// What reaches standard output and how the process ends.
struct FaultOutput {
  std::string bytes;
  int exit_code = 0;
  int signal = 0;  // raise this after writing, when non-zero
};

// For replacing faults the answer is ignored; the others transform the answer's text.
FaultOutput render_fault(const Fault& f, const json& answer, int answer_exit_code);

}  // namespace sim
