#include "main/detached_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>

#include <cstring>

extern char** environ;

namespace loomdeck {

ProcessResult DetachedRunner::run(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  if (argv.empty()) {
    result.error_text = "empty command";
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);

  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  sigset_t no_mask;
  sigemptyset(&no_mask);
  posix_spawnattr_setsigmask(&attr, &no_mask);
  // A session of its own: no controlling terminal, and no hang-up when the launcher's session ends.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  for (const auto& [fd, mode] : {std::pair{1, options.stdout_mode}, std::pair{2, options.stderr_mode}}) {
    if (mode == OutputMode::kFile) {
      posix_spawn_file_actions_addopen(&actions, fd, options.output_file.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
    } else {
      posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
    }
  }

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    result.error_text = std::strerror(rc);
    return result;
  }
  result.started = true;
  result.exit_code = 0;
  return result;
}

}  // namespace loomdeck
