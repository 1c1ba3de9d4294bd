#include "core/spawn.h"

#include <fcntl.h>
#include <signal.h>

extern char** environ;

namespace loomdeck {

ProcessResult not_started(std::string why) {
  ProcessResult result;
  result.error_text = std::move(why);
  return result;
}

SpawnSetup::SpawnSetup(bool new_session) {
  posix_spawn_file_actions_init(&actions_);
  posix_spawnattr_init(&attr_);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr_, &defaults);
  sigset_t no_mask;
  sigemptyset(&no_mask);
  posix_spawnattr_setsigmask(&attr_, &no_mask);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (new_session) {
    // A session of its own: no controlling terminal, no hang-up when the launcher's session ends.
    flags |= POSIX_SPAWN_SETSID;
  } else {
    // A process group of its own, so a time limit can kill the child with everything it started.
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attr_, 0);
  }
  posix_spawnattr_setflags(&attr_, flags);
  posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
}

SpawnSetup::~SpawnSetup() {
  posix_spawn_file_actions_destroy(&actions_);
  posix_spawnattr_destroy(&attr_);
}

void SpawnSetup::redirect(int fd, OutputMode mode, const std::string& output_file) {
  if (mode == OutputMode::kFile) {
    posix_spawn_file_actions_addopen(&actions_, fd, output_file.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
  } else {
    posix_spawn_file_actions_addopen(&actions_, fd, "/dev/null", O_WRONLY, 0);
  }
}

void SpawnSetup::dup_onto(int from_fd, int fd) { posix_spawn_file_actions_adddup2(&actions_, from_fd, fd); }

int SpawnSetup::spawn(const std::vector<std::string>& argv, pid_t* pid) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  return posix_spawnp(pid, args[0], &actions_, &attr_, args.data(), environ);
}

}  // namespace loomdeck
