#include "core/child_guard.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace loomdeck {

namespace {

std::atomic<int> g_guard_fd{-1};

// One message: a group that began (positive) or ended (negative). Eight bytes, so each write
// reaches the guard whole whichever thread sends it.
struct Message {
  std::int32_t group;
  std::int32_t padding;
};

constexpr int kGuardedGroups = 1024;

void send(int fd, std::int32_t group) {
  const Message m{group, 0};
  // The pipe never blocks us: with the guard gone or behind, the message is dropped.
  [[maybe_unused]] const ssize_t n = ::write(fd, &m, sizeof m);
}

// The guard's whole life, async-signal-safe only (it was forked from a process with threads). It
// runs with every signal blocked, so a Ctrl-C or a hang-up meant for the server cannot end it
// before the server.
[[noreturn]] void guard(int read_fd) {
  // Nothing of the server's (its listening socket, its connections) is held open by the guard.
  if (read_fd > 0) ::close_range(0, static_cast<unsigned>(read_fd) - 1, 0);
  ::close_range(static_cast<unsigned>(read_fd) + 1, ~0U, 0);
  // Told apart from its server in a process listing.
  ::prctl(PR_SET_NAME, kGuardName);
  pid_t groups[kGuardedGroups] = {};
  Message m{};
  for (;;) {
    const ssize_t n = ::read(read_fd, &m, sizeof m);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof m)) break;
    const pid_t wanted = m.group > 0 ? 0 : -m.group;
    const pid_t put = m.group > 0 ? m.group : 0;
    for (pid_t& slot : groups) {
      if (slot == wanted) {
        slot = put;
        break;
      }
    }
  }
  for (const pid_t group : groups) {
    if (group > 0) ::kill(-group, SIGKILL);
  }
  ::_exit(0);
}

}  // namespace

bool start_child_guard() {
  if (g_guard_fd.load() >= 0) return true;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  sigset_t all, previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  const pid_t pid = ::fork();
  if (pid == 0) guard(fds[0]);
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ::close(fds[0]);
  if (pid < 0) {
    ::close(fds[1]);
    return false;
  }
  ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
  g_guard_fd.store(fds[1]);
  return true;
}

int child_guard_fd() { return g_guard_fd.load(); }

void tell_guard_in_child(int guard_fd, pid_t group) { send(guard_fd, group); }

void tell_guard_child_ended(pid_t group) {
  const int fd = g_guard_fd.load();
  if (fd >= 0) send(fd, -group);
}

}  // namespace loomdeck
