#include "core/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/child_guard.h"

extern char** environ;

namespace loomdeck {

namespace {

// Where execvp would look for the program, in its order: the name itself when it holds a "/",
// else each folder of PATH (an empty entry being the working folder).
std::vector<std::string> program_candidates(const std::string& name) {
  if (name.find('/') != std::string::npos) return {name};
  const char* env = std::getenv("PATH");
  const std::string path = env ? env : "/bin:/usr/bin";
  std::vector<std::string> candidates;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = path.find(':', start);
    const std::string dir = path.substr(start, colon == std::string::npos ? colon : colon - start);
    candidates.push_back(dir.empty() ? name : dir + "/" + name);
    if (colon == std::string::npos) return candidates;
    start = colon + 1;
  }
}

// Only async-signal-safe calls from here on: another thread may have held any lock at the fork.
[[noreturn]] void fail_in_child(int report_fd) {
  const int error = errno;
  [[maybe_unused]] const ssize_t n = ::write(report_fd, &error, sizeof error);
  ::_exit(127);
}

}  // namespace

ProcessResult not_started(std::string why) {
  ProcessResult result;
  result.error_text = std::move(why);
  return result;
}

SpawnSetup::SpawnSetup(bool new_session) : new_session_(new_session) {
  actions_.push_back({0, -1, "/dev/null", O_RDONLY});
}

void SpawnSetup::redirect(int fd, OutputMode mode, const std::string& output_file) {
  if (mode == OutputMode::kFile) {
    actions_.push_back({fd, -1, output_file, O_WRONLY | O_APPEND | O_CREAT});
  } else {
    actions_.push_back({fd, -1, "/dev/null", O_WRONLY});
  }
}

void SpawnSetup::dup_onto(int from_fd, int fd) { actions_.push_back({fd, from_fd, "", 0}); }

int SpawnSetup::spawn(const std::vector<std::string>& argv, pid_t* pid) {
  // Everything the child needs is made here, since it must not allocate.
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const std::vector<std::string> candidates = program_candidates(argv[0]);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return errno;
  const pid_t parent = ::getpid();
  const int guard_fd = child_guard_fd();
  // No handler of ours may run in the child before it resets them.
  sigset_t all, previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  const pid_t child = ::fork();
  if (child == 0) {
    if (new_session_) {
      ::setsid();
    } else {
      ::setpgid(0, 0);
      // Dies with the thread that started it; if we died before this took hold, it ends itself.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);
      if (guard_fd >= 0) tell_guard_in_child(guard_fd, ::getpid());
    }
    for (int s = 1; s < NSIG; ++s) {
      struct sigaction current {};
      if (::sigaction(s, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) ::signal(s, SIG_DFL);
    }
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const Action& a : actions_) {
      const int from = a.from_fd >= 0 ? a.from_fd : ::open(a.path.c_str(), a.flags | O_CLOEXEC, 0600);
      if (from < 0) fail_in_child(report[1]);
      // dup2 onto itself would leave the close-on-exec flag set.
      const int ok = from == a.fd ? ::fcntl(from, F_SETFD, 0) : ::dup2(from, a.fd);
      if (ok < 0) fail_in_child(report[1]);
    }
    int error = ENOENT;
    bool denied = false;
    for (const std::string& candidate : candidates) {
      ::execve(candidate.c_str(), args.data(), environ);
      error = errno;
      if (error == EACCES) {
        denied = true;
      } else if (error != ENOENT && error != ENOTDIR && error != ESTALE && error != ENODEV && error != ETIMEDOUT) {
        break;
      }
    }
    errno = denied ? EACCES : error;
    fail_in_child(report[1]);
  }
  const int fork_error = errno;
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ::close(report[1]);
  if (child < 0) {
    ::close(report[0]);
    return fork_error;
  }
  // The report pipe closes at the exec; a number arrives only when the child could not get there.
  int child_error = 0;
  ssize_t n;
  while ((n = ::read(report[0], &child_error, sizeof child_error)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (n == static_cast<ssize_t>(sizeof child_error)) {
    if (!new_session_) tell_guard_child_ended(child);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return child_error != 0 ? child_error : ECHILD;
  }
  *pid = child;
  return 0;
}

}  // namespace loomdeck
