#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/process.h"
#include "main/command_line.h"

namespace loomdeck {

// The background server's command: behind `setsid -f` when that works, else the executable itself.
// A --bind address given to the launcher is handed on.
std::vector<std::string> background_server_command(bool with_setsid, const std::string& exe, uint16_t port,
                                                   const std::string& target, const std::string& attribution,
                                                   const std::optional<std::string>& bind = std::nullopt);

// What `serve --print-url` works with: `runner` waits for its children (curl, setsid), while
// `detached` starts the server without waiting when there is no `setsid` to detach it.
struct LauncherSeams {
  Clock& clock;
  ProcessRunner& runner;
  ProcessRunner& detached;
  std::string exe;
  std::string log_directory;
};

// What making sure a server runs came to: its port (and whether it was running already), or
// why there is none and what to do about it.
struct ServerLaunch {
  std::optional<uint16_t> port;
  bool reused = false;
  std::string error;
  std::string hint;
};

// Reuses a same-version server answering on `look_at` (one port, else the whole range) or starts
// one in the background (from the --port value, with the command line's target, attribution and
// bind address) and waits up to 10 s for it to answer there.
ServerLaunch ensure_server(const CommandLine& cli, LauncherSeams& seams, std::optional<uint16_t> look_at);

// The launcher's file, where a background server writes its output.
std::string launcher_log_file(const LauncherSeams& seams);

// `serve --print-url`: reuses a same-version server or starts one in the background, then prints
// the dashboard URL and a status line. Returns the exit status.
int run_print_url(const CommandLine& cli, LauncherSeams& seams);

// This process's real clock, runners and executable path, and ~/.ovra/gantry as the folder for
// the background server's dashboard.log (empty, so nothing is logged, when it is not the user's own).
LauncherSeams system_launcher_seams();

// `serve --print-url` with those.
int run_print_url(const CommandLine& cli);

}  // namespace loomdeck
