#include "emit.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace sim {

namespace {
void write_all(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}
}  // namespace

int emit(const RunResult& result) {
  write_all(1, result.out);
  write_all(2, result.err);
  if (result.signal) {
    // An injected crash must not leave core files behind in the caller's directory.
    rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    std::signal(result.signal, SIG_DFL);
    std::raise(result.signal);
  }
  if (result.hang)
    for (;;) ::pause();
  return result.exit_code;
}

std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

}  // namespace sim
