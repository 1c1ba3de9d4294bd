#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "core/process.h"

namespace loomdeck {

// What every child of ours starts with: SIGPIPE back at its default (we ignore it for
// ourselves), an empty signal mask, standard input from the null device, and a process group
// (or, for a detached server, a session) of its own. Runners add their own redirections, then
// spawn by argument vector with PATH lookup.
// The result for a command that could not be started, saying why.
ProcessResult not_started(std::string why);

class SpawnSetup {
 public:
  explicit SpawnSetup(bool new_session = false);
  ~SpawnSetup();
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // The null device or the options' output file on `fd` (capturing is the runner's business).
  void redirect(int fd, OutputMode mode, const std::string& output_file);
  void dup_onto(int from_fd, int fd);
  // posix_spawnp's result: 0, or the error number.
  int spawn(const std::vector<std::string>& argv, pid_t* pid);

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

}  // namespace loomdeck
