#include "speak.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "store.h"

extern char** environ;

namespace sim {

namespace {

constexpr auto kChildLimit = std::chrono::seconds(60);

// Runs a program with every standard stream on the null device and waits for it at most
// kChildLimit; returns why it failed, or "" when it exited 0.
std::string run_quietly(const std::vector<std::string>& argv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed == ENOENT) return argv[0] + " is not installed";
  if (failed) return argv[0] + " could not start: " + std::strerror(failed);

  const auto deadline = std::chrono::steady_clock::now() + kChildLimit;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return argv[0] + " could not be waited for: " + std::strerror(errno);
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return argv[0] + " took longer than 60 s";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (WIFSIGNALED(status)) return argv[0] + " was ended by signal " + std::to_string(WTERMSIG(status));
  if (WEXITSTATUS(status) != 0) return argv[0] + " failed with exit status " + std::to_string(WEXITSTATUS(status));
  return "";
}

}  // namespace

std::vector<std::string> espeak_argv(const std::string& text_file, const std::string& wav) {
  return {"espeak-ng", "-v", "en-us", "-s", "155", "-w", wav, "-f", text_file};
}

std::vector<std::string> lame_argv(const std::string& wav, const std::string& mp3) {
  return {"lame", "--quiet", "-m", "m", "-b", "48", "--resample", "24", "--cbr", "-t", "--noreplaygain", wav, mp3};
}

Speech speak_with_espeak(const std::string& text) {
  const char* tmp = std::getenv("TMPDIR");
  std::string scratch = std::string(tmp && *tmp ? tmp : "/tmp") + "/ovra-tts-XXXXXX";
  if (!::mkdtemp(scratch.data())) return {std::nullopt, "no scratch folder: " + std::string(std::strerror(errno))};
  const std::string text_file = scratch + "/text.txt", wav = scratch + "/speech.wav", mp3 = scratch + "/speech.mp3";
  Speech speech;
  if (!write_atomic(text_file, text)) {
    speech.why = "cannot write " + text_file;
  } else if (std::string why = run_quietly(espeak_argv(text_file, wav)); !why.empty()) {
    speech.why = why;
  } else if (why = run_quietly(lame_argv(wav, mp3)); !why.empty()) {
    speech.why = why;
  } else {
    speech.mp3 = read_file(mp3);
    if (!speech.mp3 || speech.mp3->empty()) {
      speech.mp3.reset();
      speech.why = "lame wrote no audio";
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
  return speech;
}

}  // namespace sim
