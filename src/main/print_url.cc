#include "main/print_url.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

#include "core/user_home.h"
#include "main/dashboard_url.h"
#include "main/detached_runner.h"
#include "main/discovery.h"

namespace loomdeck {

namespace {

constexpr std::chrono::seconds kAnswerWait{10};
constexpr std::chrono::milliseconds kPollPause{250};

bool setsid_usable(ProcessRunner& runner) {
  const ProcessResult probe = runner.run({"setsid", "--version"});
  return probe.started && probe.exit_code == 0;
}

// Whether the log file can be opened for appending. It is private to the user (0600), an existing
// one included: the server's output may name boxes, files and the user's account.
bool log_file_usable(const std::string& path) {
  // A link or somebody else's file in its place is not written through.
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  struct stat st {};
  const bool own = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
  if (own) ::fchmod(fd, 0600);
  ::close(fd);
  return own;
}

std::string own_executable() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) return "loomdeck";
  return exe.string();
}

void print_url_line(uint16_t port) { std::cout << dashboard_url(port) << '\n' << std::flush; }

}  // namespace

std::vector<std::string> background_server_command(bool with_setsid, const std::string& exe, uint16_t port,
                                                   const std::string& target, const std::string& attribution,
                                                   const std::optional<std::string>& bind) {
  std::vector<std::string> argv;
  if (with_setsid) argv = {"setsid", "-f"};
  argv.push_back(exe);
  argv.insert(argv.end(), {"serve", "--port", std::to_string(port)});
  if (!target.empty()) argv.insert(argv.end(), {"--target", target});
  argv.insert(argv.end(), {"--ai-thread", attribution});
  if (bind) argv.insert(argv.end(), {"--bind", *bind});
  return argv;
}

namespace {

// The background server writes to the log file when that can be opened, else nowhere.
ProcessOptions background_output(const std::string& log_directory, const std::string& log_file) {
  ProcessOptions options;
  std::error_code ignored;
  if (!log_directory.empty()) std::filesystem::create_directories(log_directory, ignored);
  if (!log_directory.empty() && log_file_usable(log_file)) {
    options.stdout_mode = OutputMode::kFile;
    options.stderr_mode = OutputMode::kFile;
    options.output_file = log_file;
  } else {
    options.stdout_mode = OutputMode::kDiscard;
    options.stderr_mode = OutputMode::kDiscard;
  }
  return options;
}

// Starts `loomdeck serve` in the background: behind `setsid -f` when that works, else in a
// session of its own started here. False when it could not be spawned.
bool start_background_server(const CommandLine& cli, LauncherSeams& seams, const ProcessOptions& options) {
  const bool with_setsid = setsid_usable(seams.runner);
  const std::vector<std::string> command =
      background_server_command(with_setsid, seams.exe, cli.port.value_or(kFirstPort),
                                option_value(cli.args, "--target").value_or(""), cli.attribution,
                                option_value(cli.args, "--bind"));
  return (with_setsid ? seams.runner : seams.detached).run(command, options).started;
}

// The port of a same-version server once one answers on `look_at`, looking every 250 ms for
// 10 s. The time is read from the clock, not counted in looks: on a busy machine one look over
// the whole port range can itself take seconds.
std::optional<uint16_t> wait_for_server(LauncherSeams& seams, std::optional<uint16_t> look_at) {
  const Clock::Instant deadline = seams.clock.now() + kAnswerWait;
  while (seams.clock.now() < deadline) {
    seams.clock.sleep_for(kPollPause);
    if (const auto port = find_own_server(seams.runner, look_at)) return port;
  }
  return std::nullopt;
}

}  // namespace

std::string launcher_log_file(const LauncherSeams& seams) { return seams.log_directory + "/dashboard.log"; }

ServerLaunch ensure_server(const CommandLine& cli, LauncherSeams& seams, std::optional<uint16_t> look_at) {
  if (const auto port = find_own_server(seams.runner, look_at)) return {port, true, "", ""};
  const std::string log_file = launcher_log_file(seams);
  if (!start_background_server(cli, seams, background_output(seams.log_directory, log_file))) {
    return {std::nullopt, false, "could not spawn the background server",
            "Run `loomdeck serve` by hand and read its output."};
  }
  if (const auto port = wait_for_server(seams, look_at)) return {port, false, "", ""};
  return {std::nullopt, false, "background server did not answer within 10s", "Read " + log_file + " for its output."};
}

int run_print_url(const CommandLine& cli, LauncherSeams& seams) {
  const ServerLaunch launch = ensure_server(cli, seams, std::nullopt);
  if (!launch.port) {
    fail(launch.error, launch.hint);
    return 1;
  }
  print_url_line(*launch.port);
  const std::string port = std::to_string(*launch.port);
  say_ok(launch.reused ? "loomdeck already serving on port " + port + " - reusing it"
                       : "loomdeck serving on port " + port + " (backgrounded; log: " + launcher_log_file(seams) + ")");
  return 0;
}

LauncherSeams system_launcher_seams() {
  static DetachedRunner detached;
  const OwnFolder folder = ovra_folder("gantry");
  return LauncherSeams{system_clock(), system_runner(), detached, own_executable(), folder.usable() ? folder.path : ""};
}

int run_print_url(const CommandLine& cli) {
  if (const OwnFolder folder = ovra_folder("gantry"); !folder.usable()) {
    fail(folder.problem, folder.hint);
    return 1;
  }
  LauncherSeams seams = system_launcher_seams();
  return run_print_url(cli, seams);
}

}  // namespace loomdeck
