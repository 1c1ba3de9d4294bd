#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace loomdeck {

// How a child's standard output and standard error are handled.
enum class OutputMode {
  kCapture,  // read into the result
  kDiscard,  // the null device
  kFile,     // appended to ProcessOptions::output_file (created 0600 if missing)
};

// The longest any child may run unless its caller sets a shorter limit.
inline constexpr std::chrono::milliseconds kDefaultTimeLimit = std::chrono::minutes(15);

struct ProcessOptions {
  OutputMode stdout_mode = OutputMode::kCapture;
  OutputMode stderr_mode = OutputMode::kCapture;
  std::string output_file;
  // Captured bytes past this are read and dropped, so a chatty child never blocks on a full
  // pipe and never grows our memory without bound.
  std::size_t capture_limit = 64u << 20;
  // Past this the child and everything it started (its process group) are killed, so a hung
  // tool can never hold a thread of ours, or its own processes, for ever.
  std::chrono::milliseconds time_limit = kDefaultTimeLimit;
  // When set, a captured standard output is handed over piece by piece as it arrives (an event
  // stream never ends on its own) and not kept in the result. Returning false ends the child and
  // what it started, as the time limit would, with `cut_short` set.
  std::function<bool(std::string_view piece)> on_stdout;
};

struct ProcessResult {
  bool started = false;
  std::string error_text;  // the system's text when the child could not be started
  int exit_code = -1;      // -1 when killed by a signal
  std::string out;
  std::string err;
  bool out_truncated = false;
  bool timed_out = false;  // killed at its time limit; what it printed until then is kept
  bool cut_short = false;  // killed because the output handler asked for it
};

}  // namespace loomdeck
