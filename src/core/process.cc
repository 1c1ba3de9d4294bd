#include "core/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "core/child_guard.h"
#include "core/spawn.h"

namespace loomdeck {

namespace {

// Keeps the deadline arithmetic far from overflowing whatever limit a caller asks for.
constexpr std::chrono::milliseconds kLongestTimeLimit = std::chrono::hours(24 * 30);

struct Pipe {
  int read_end = -1;
  int write_end = -1;
  bool open() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    read_end = fds[0];
    write_end = fds[1];
    return true;
  }
  void close_write() {
    if (write_end >= 0) ::close(write_end);
    write_end = -1;
  }
  void close_all() {
    if (read_end >= 0) ::close(read_end);
    read_end = -1;
    close_write();
  }
};

// The children running right now, so a signal that ends us can end them too: each runs in a
// process group of its own, which a Ctrl-C or a closed terminal no longer reaches. Read from a
// signal handler, so plain lock-free slots.
constexpr std::size_t kTrackedChildren = 1024;
std::atomic<pid_t> g_children[kTrackedChildren];

class ChildSlot {
 public:
  explicit ChildSlot(pid_t pid) {
    for (std::size_t i = 0; i < kTrackedChildren; ++i) {
      pid_t free_slot = 0;
      if (g_children[i].compare_exchange_strong(free_slot, pid)) {
        slot_ = &g_children[i];
        return;
      }
    }
  }
  ~ChildSlot() { release(); }
  ChildSlot(const ChildSlot&) = delete;
  ChildSlot& operator=(const ChildSlot&) = delete;
  // Before the child is reaped, so its id is never signalled once it may belong to another.
  void release() {
    if (slot_) slot_->store(0);
    slot_ = nullptr;
  }

 private:
  std::atomic<pid_t>* slot_ = nullptr;
};

extern "C" void end_with_children(int signal_number) {
  for (std::atomic<pid_t>& child : g_children) {
    const pid_t pid = child.load();
    if (pid > 0) ::kill(-pid, SIGKILL);
  }
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// Milliseconds until `deadline`, rounded up and clamped to what poll takes; 0 once it passed.
int millis_left(Clock& clock, Clock::Instant deadline) {
  const auto left = deadline - clock.now();
  if (left <= Clock::Instant::duration::zero()) return 0;
  const long long ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Whether the child has exited, without reaping it: until it is reaped its id, and so its
// process group's id, cannot be reused, so killing the group stays safe.
bool has_exited(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// What reading a readable pipe came to.
enum class PipeRead { kOpen, kEnded, kRefused };

constexpr std::size_t kOutputSlackBytes = 1u << 20;

// Reads what a readable pipe holds into its sink, keeping at most `limit` bytes there (the rest
// is read and dropped, marked in `truncated` when given), or hands it to `handler` when there is
// one.
PipeRead read_into(int fd, std::string& sink, std::size_t limit, bool* truncated,
                   const std::function<bool(std::string_view)>* handler) {
  char buf[65536];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  if (n < 0 && errno == EINTR) return PipeRead::kOpen;
  if (n <= 0) return PipeRead::kEnded;
  if (handler) {
    return (*handler)(std::string_view(buf, static_cast<std::size_t>(n))) ? PipeRead::kOpen : PipeRead::kRefused;
  }
  const std::size_t room = sink.size() < limit ? limit - sink.size() : 0;
  const std::size_t take = static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room;
  sink.append(buf, take);
  if (take < static_cast<std::size_t>(n) && truncated) *truncated = true;
  return PipeRead::kOpen;
}

// How watching a child ended: it finished, its time limit came first, or the output handler
// asked to end it.
enum class Ending { kFinished, kLate, kCutShort };

// Reads both pipes together, so neither can fill up and stall the child, until both reach end
// of input and the child has exited, the deadline comes or the output handler refuses more.
Ending watch(pid_t pid, int out_fd, int err_fd, Clock& clock, Clock::Instant deadline, const ProcessOptions& options,
             ProcessResult& result) {
  // Readable once the child has exited; kernels without it fall back to looking every 20 ms.
  const int exit_fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  pollfd fds[3] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}, {exit_fd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  bool* truncated[2] = {&result.out_truncated, nullptr};
  const std::function<bool(std::string_view)>* handlers[2] = {options.on_stdout ? &options.on_stdout : nullptr,
                                                              nullptr};
  int open_pipes = (out_fd >= 0) + (err_fd >= 0);
  bool exited = false;
  Ending ending = Ending::kFinished;
  for (;;) {
    if (!exited && exit_fd < 0 && open_pipes == 0) exited = has_exited(pid);
    if (exited && open_pipes == 0) break;
    int wait_ms = millis_left(clock, deadline);
    if (wait_ms == 0) {
      ending = Ending::kLate;
      break;
    }
    if (exit_fd < 0 && open_pipes == 0 && wait_ms > 20) wait_ms = 20;
    if (::poll(fds, 3, wait_ms) < 0) {
      if (errno == EINTR) continue;
      // Nothing left to watch the child with: stop it rather than wait blind.
      ending = Ending::kLate;
      break;
    }
    if (fds[2].fd >= 0 && fds[2].revents != 0) {
      exited = true;
      fds[2].fd = -1;
    }
    for (int k = 0; k < 2 && ending == Ending::kFinished; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      const PipeRead read = read_into(fds[k].fd, *sinks[k], options.capture_limit, truncated[k], handlers[k]);
      if (read == PipeRead::kRefused) ending = Ending::kCutShort;
      if (read == PipeRead::kEnded) {
        fds[k].fd = -1;
        --open_pipes;
      }
    }
    if (ending != Ending::kFinished) break;
  }
  if (exit_fd >= 0) ::close(exit_fd);
  return ending;
}

// Spawns the child with each captured stream on a pipe of its own, whose write end only the
// child keeps; 0, or the error number.
int spawn_child(const std::vector<std::string>& argv, const ProcessOptions& options, Pipe& out_pipe, Pipe& err_pipe,
                pid_t& pid) {
  SpawnSetup setup;
  const auto wire = [&](OutputMode mode, int fd, Pipe& p) {
    if (mode != OutputMode::kCapture) {
      setup.redirect(fd, mode, options.output_file);
      return true;
    }
    if (!p.open()) return false;
    setup.dup_onto(p.write_end, fd);
    return true;
  };
  const bool ok = wire(options.stdout_mode, 1, out_pipe) && wire(options.stderr_mode, 2, err_pipe);
  const int pipe_error = errno != 0 ? errno : EMFILE;
  const int rc = ok ? setup.spawn(argv, &pid) : pipe_error;
  out_pipe.close_write();
  err_pipe.close_write();
  return rc;
}

// Reaps the child: its exit status, or -1 when a signal ended it or it cannot be waited for.
int reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ProcessResult PosixProcessRunner::run(const std::vector<std::string>& argv, const ProcessOptions& options) {
  if (argv.empty()) return not_started("empty command");
  Pipe out_pipe, err_pipe;
  pid_t pid = -1;
  if (const int rc = spawn_child(argv, options, out_pipe, err_pipe, pid); rc != 0) {
    out_pipe.close_all();
    err_pipe.close_all();
    return not_started(std::strerror(rc));
  }
  ProcessResult result;
  result.started = true;
  ChildSlot slot(pid);
  const auto limit = options.time_limit < kLongestTimeLimit ? options.time_limit : kLongestTimeLimit;
  const Ending ending = watch(pid, out_pipe.read_end, err_pipe.read_end, clock_, clock_.now() + limit, options, result);
  // A long output grew by doubling; what it holds is kept rather than up to twice that.
  if (result.out.capacity() - result.out.size() > kOutputSlackBytes) result.out.shrink_to_fit();
  out_pipe.close_all();
  err_pipe.close_all();
  if (ending != Ending::kFinished) {
    // The whole group, so whatever the child started goes too; the child itself as well, in
    // case it moved to a group of its own.
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    result.timed_out = ending == Ending::kLate;
    result.cut_short = ending == Ending::kCutShort;
  }
  slot.release();
  tell_guard_child_ended(pid);
  result.exit_code = reap(pid);
  return result;
}

void end_children_with_us() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction current {};
    // A signal we were started to ignore (a background job's Ctrl-C) stays ignored.
    if (::sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction ending {};
    ending.sa_handler = end_with_children;
    sigemptyset(&ending.sa_mask);
    ::sigaction(signal_number, &ending, nullptr);
  }
}

ProcessRunner& system_runner() {
  static PosixProcessRunner runner;
  return runner;
}

}  // namespace loomdeck
