#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "core/process_options.h"

namespace loomdeck {

// The result for a command that could not be started, saying why.
ProcessResult not_started(std::string why);

// What every child of ours starts with: default signal handling (SIGPIPE too, which we ignore for
// ourselves), an empty signal mask, standard input from the null device, and either a session of
// its own (a detached server, which outlives us) or a process group of its own that dies with us:
// the kernel kills the child when the thread that started it ends (see ProcessRunner), and the
// child guard, when there is one, kills its group. Runners add their own redirections, then
// spawn by argument vector with PATH lookup.
class SpawnSetup {
 public:
  explicit SpawnSetup(bool new_session = false);

  // The null device or the options' output file on `fd` (capturing is the runner's business).
  void redirect(int fd, OutputMode mode, const std::string& output_file);
  void dup_onto(int from_fd, int fd);
  // 0, or the error number that kept the program from starting.
  int spawn(const std::vector<std::string>& argv, pid_t* pid);

 private:
  struct Action {
    int fd;
    int from_fd;  // -1: open `path` instead
    std::string path;
    int flags;
  };

  bool new_session_;
  std::vector<Action> actions_;
};

}  // namespace loomdeck
