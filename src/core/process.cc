#include "core/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/spawn.h"

namespace loomdeck {

namespace {

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
  void close_all() {
    if (read_end >= 0) ::close(read_end);
    if (write_end >= 0) ::close(write_end);
    read_end = write_end = -1;
  }
};

// Reads both pipes together until both reach end of input, so neither can fill up and stall the child.
void drain(int out_fd, int err_fd, const ProcessOptions& options, ProcessResult& result) {
  char buf[65536];
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = (out_fd >= 0) + (err_fd >= 0);
  while (open_count > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      const ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        fds[k].fd = -1;
        --open_count;
        continue;
      }
      std::string& sink = *sinks[k];
      const std::size_t room = sink.size() < options.capture_limit ? options.capture_limit - sink.size() : 0;
      const std::size_t take = static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room;
      sink.append(buf, take);
      if (take < static_cast<std::size_t>(n) && k == 0) result.out_truncated = true;
    }
  }
}

}  // namespace

ProcessResult PosixProcessRunner::run(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  if (argv.empty()) {
    result.error_text = "empty command";
    return result;
  }
  Pipe out_pipe, err_pipe;
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

  pid_t pid = -1;
  const int rc = ok ? setup.spawn(argv, &pid) : pipe_error;
  if (out_pipe.write_end >= 0) { ::close(out_pipe.write_end); out_pipe.write_end = -1; }
  if (err_pipe.write_end >= 0) { ::close(err_pipe.write_end); err_pipe.write_end = -1; }
  if (rc != 0) {
    result.error_text = std::strerror(rc);
    out_pipe.close_all();
    err_pipe.close_all();
    return result;
  }
  result.started = true;
  drain(out_pipe.read_end, err_pipe.read_end, options, result);
  out_pipe.close_all();
  err_pipe.close_all();

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return result;
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

ProcessRunner& system_runner() {
  static PosixProcessRunner runner;
  return runner;
}

}  // namespace loomdeck
