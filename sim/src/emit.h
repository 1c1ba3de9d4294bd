// The edge of every stand-in program: write what a run produced and end the process its way.
#pragma once

#include "app.h"

namespace sim {

// Writes out/err, then raises the signal or sleeps until killed when asked; returns the exit status.
int emit(const RunResult& result);

std::vector<std::string> arguments(int argc, char** argv);

}  // namespace sim
