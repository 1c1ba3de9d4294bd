// The command lines of the stand-in programs, as functions from arguments to what the process
// prints and how it ends; the executables only write the bytes and raise the signal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "clock.h"
#include "store.h"

namespace sim {

struct RunResult {
  std::string out;
  std::string err;
  int exit_code = 0;
  int signal = 0;     // raise after writing
  bool hang = false;  // sleep until killed after writing
};

// ovra-bridge: `targets`, `tools`, `sim <verb> ...`, or `--target B --ai-thread A <tool> [args]`.
RunResult bridge_command(const std::vector<std::string>& args, Store& store, Clock& clock);

// The `sim` control verbs (args start after "sim").
RunResult sim_command(const std::vector<std::string>& args, Store& store, Clock& clock);

// Records a stand-in program's call and applies the faults aimed at it. When the returned
// result is final (a fault replaced the call), the program prints it and does nothing else.
struct ProgramStart {
  bool replaced = false;
  RunResult result;
  std::optional<Fault> after;  // a fault that shapes the end of a normal run (exit, crash)
};
ProgramStart start_program(const std::string& program, const std::vector<std::string>& argv, Store& store, Clock& clock);
// Ends a normal run of a stand-in program, honouring `after`.
RunResult finish_program(const ProgramStart& start, RunResult result);

}  // namespace sim
