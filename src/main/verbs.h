#pragma once

#include "main/command_line.h"

namespace loomdeck {

// The address `serve` listens on: --bind, else LOOMDECK_BIND, else every interface.
std::string bind_address(const CommandLine& cli);

// `serve`: binds, prints the start line and serves until the process ends.
int run_serve(const CommandLine& cli);

// `status`: one status snapshot of a box, indented, computed on the spot.
int run_status(const CommandLine& cli);

}  // namespace loomdeck
