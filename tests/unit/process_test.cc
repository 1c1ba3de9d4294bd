#include "core/process.h"

#include <gtest/gtest.h>
#include <sys/types.h>

#include <fstream>
#include <string>
#include <thread>

namespace loomdeck {
namespace {

using std::chrono::milliseconds;

// Gone, or a zombie that nothing runs in any more.
bool dead(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!stat || !std::getline(stat, line)) return true;
  const std::size_t name_end = line.rfind(')');
  return name_end != std::string::npos && name_end + 2 < line.size() && line[name_end + 2] == 'Z';
}

// SIGKILL takes effect at once, but the kernel reports it a moment later; this waits for that.
bool dies(pid_t pid) {
  for (int i = 0; i < 2000 && !dead(pid); ++i) std::this_thread::sleep_for(milliseconds(5));
  return dead(pid);
}

TEST(PosixProcessRunner, EndsAtItsTimeLimitWithEverythingTheChildStarted) {
  struct Case {
    const char* script;
    OutputMode output;
    milliseconds limit;
    bool timed_out;
    int exit_code;
  };
  const Case cases[] = {
      {"echo out; echo err >&2; exit 3", OutputMode::kCapture, std::chrono::minutes(10), false, 3},
      {"exit 4", OutputMode::kDiscard, std::chrono::minutes(10), false, 4},
      // A grandchild holding the output pipe open.
      {"sleep 600 & echo $!; wait", OutputMode::kCapture, milliseconds(1000), true, -1},
      // The output is closed at once, but the child runs on.
      {"sleep 600 >/dev/null 2>&1 & echo $!; exec >/dev/null 2>&1; wait", OutputMode::kCapture, milliseconds(1000),
       true, -1},
      {"sleep 600", OutputMode::kDiscard, milliseconds(200), true, -1},
  };
  PosixProcessRunner runner;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    ProcessOptions options;
    options.stdout_mode = options.stderr_mode = c.output;
    options.time_limit = c.limit;
    ProcessResult r = runner.run({"sh", "-c", c.script}, options);
    // On a loaded machine the limit can pass before the shell printed its child: that run shows
    // nothing about the child, so it is tried again.
    for (int tries = 1; tries < 10 && c.timed_out && c.output == OutputMode::kCapture && r.out.empty(); ++tries) {
      r = runner.run({"sh", "-c", c.script}, options);
    }
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.timed_out, c.timed_out);
    EXPECT_EQ(r.exit_code, c.exit_code);
    if (!c.timed_out && c.output == OutputMode::kCapture) {
      EXPECT_EQ(r.out, "out\n");
      EXPECT_EQ(r.err, "err\n");
    }
    if (c.timed_out && c.output == OutputMode::kCapture) {
      ASSERT_FALSE(r.out.empty()) << "the shell never printed its child within the limit";
      const pid_t grandchild = static_cast<pid_t>(std::stol(r.out));
      EXPECT_TRUE(dies(grandchild)) << "pid " << grandchild;
    }
  }
}

// An event stream never ends on its own: its reader takes the output as it comes and ends the
// child (and what it started) once it wants no more.
TEST(PosixProcessRunner, AnOutputHandlerSeesPiecesAsTheyComeAndCanEndTheChild) {
  PosixProcessRunner runner;
  std::string seen;
  ProcessOptions options;
  options.on_stdout = [&](std::string_view piece) {
    seen += piece;
    return seen.find('\n') == std::string::npos;
  };
  const ProcessResult r = runner.run({"sh", "-c", "sleep 600 & echo $!; wait"}, options);
  EXPECT_TRUE(r.cut_short);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(dies(static_cast<pid_t>(std::stol(seen)))) << seen;
}

// The bridge's argument text travels as one argv element; the kernel takes 131071 bytes and
// its terminating zero, no more.
TEST(PosixProcessRunner, OneArgumentTakesAtMost131072BytesWithItsTerminator) {
  PosixProcessRunner runner;
  EXPECT_TRUE(runner.run({"true", std::string(131071, 'x')}).started);
  const ProcessResult refused = runner.run({"true", std::string(131072, 'x')});
  EXPECT_FALSE(refused.started);
  EXPECT_EQ(refused.error_text, "Argument list too long");
}

}  // namespace
}  // namespace loomdeck
