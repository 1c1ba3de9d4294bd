#pragma once

#include <string>

#include "main/command_line.h"

namespace loomdeck {

// What `help` and an unknown verb print; its first line names the version.
extern const std::string kUsageText;

// Runs the verb and returns the process's exit status.
int run_command_line(const CommandLine& cli);

}  // namespace loomdeck
