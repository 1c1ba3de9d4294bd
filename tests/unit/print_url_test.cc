#include "main/print_url.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fakes.h"

namespace loomdeck {
namespace {

std::string own_ping() { return R"({"app":"loomdeck","dashboardVersion":"1.10.20"})"; }

TEST(BackgroundServerCommand, SetsidFrontAndTargetOnlyWhenGiven) {
  EXPECT_EQ(background_server_command(true, "/opt/loomdeck", 8930, "", "loomdeck"),
            (std::vector<std::string>{"setsid", "-f", "/opt/loomdeck", "serve", "--port", "8930", "--ai-thread",
                                      "loomdeck"}));
  EXPECT_EQ(background_server_command(false, "loomdeck", 8935, "Studio", "t7"),
            (std::vector<std::string>{"loomdeck", "serve", "--port", "8935", "--target", "Studio", "--ai-thread",
                                      "t7"}));
  EXPECT_EQ(background_server_command(false, "loomdeck", 8930, "", "t7", "127.0.0.1"),
            (std::vector<std::string>{"loomdeck", "serve", "--port", "8930", "--ai-thread", "t7", "--bind",
                                      "127.0.0.1"}));
}

class PrintUrl : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("VSCODE_PROXY_URI");
    dir = std::filesystem::temp_directory_path() / ("print-url-" + std::to_string(::getpid()) + "-" +
                                                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    log_dir = (dir / "home/.ovra/gantry").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  // The server on `port` starts answering once it has been spawned and `polls_needed` polls
  // have looked for it.
  void server_appears_on(uint16_t port, int polls_needed) {
    runner.on("curl", [this, port, polls_needed](const std::vector<std::string>& argv, const ProcessOptions&) {
      if (argv.back() == "http://127.0.0.1:8930/api/ping") ++scans;
      if (spawned && scans > polls_needed && argv.back() == "http://127.0.0.1:" + std::to_string(port) + "/api/ping") {
        return exited(0, own_ping());
      }
      return exited(7);
    });
  }

  struct Run {
    int status;
    std::string out, err;
  };
  Run run(std::vector<std::string> args) {
    LauncherSeams seams{clock, runner, detached, "/opt/loomdeck", log_dir};
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int status = run_print_url(parse_command_line(std::move(args)), seams);
    std::string out = ::testing::internal::GetCapturedStdout();
    return {status, std::move(out), ::testing::internal::GetCapturedStderr()};
  }

  std::filesystem::path dir;
  std::string log_dir;
  FakeClock clock;
  FakeRunner runner;
  FakeRunner detached;
  bool spawned = false;
  int scans = 0;
  ProcessOptions spawn_options;
};

TEST_F(PrintUrl, ReusesASameVersionServerAndStartsNothing) {
  runner.on("curl", [](const std::vector<std::string>& argv, const ProcessOptions&) {
    if (argv.back() == "http://127.0.0.1:8931/api/ping")
      return exited(0, R"({"app":"loomdeck","dashboardVersion":"1.10.19"})");
    if (argv.back() == "http://127.0.0.1:8933/api/ping") return exited(0, own_ping());
    return exited(7);
  });
  const Run r = run({"loomdeck", "serve", "--print-url"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "http://127.0.0.1:8933/\nOK: loomdeck already serving on port 8933 - reusing it\n");
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(runner.calls.size(), 4u);
  EXPECT_EQ(runner.calls[0], (std::vector<std::string>{"curl", "-s", "-m", "1", "http://127.0.0.1:8930/api/ping"}));
  EXPECT_TRUE(detached.calls.empty());
  EXPECT_FALSE(std::filesystem::exists(log_dir));
}

TEST_F(PrintUrl, StartsBehindSetsidWithTheLogFileAndPollsUntilItAnswers) {
  server_appears_on(8932, 3);
  runner.on("setsid", [this](const std::vector<std::string>& argv, const ProcessOptions& o) {
    if (argv[1] == "-f") {
      spawned = true;
      spawn_options = o;
    }
    return exited(0);
  });
  // A log left readable by others from an earlier version becomes private.
  std::filesystem::create_directories(log_dir);
  std::ofstream(log_dir + "/dashboard.log") << "old\n";
  std::filesystem::permissions(log_dir + "/dashboard.log", std::filesystem::perms(0644));
  ::setenv("VSCODE_PROXY_URI", "/proxy/{{port}}/", 1);
  const Run r = run({"loomdeck", "serve", "--print-url", "--ai-thread", "t7", "--target", ""});
  ::unsetenv("VSCODE_PROXY_URI");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "/proxy/8932/\nOK: loomdeck serving on port 8932 (backgrounded; log: " + log_dir + "/dashboard.log)\n");
  EXPECT_EQ(clock.elapsed(), 0.75);
  EXPECT_EQ(runner.calls[11], (std::vector<std::string>{"setsid", "--version"}));
  EXPECT_EQ(runner.calls[12], (std::vector<std::string>{"setsid", "-f", "/opt/loomdeck", "serve", "--port", "8930",
                                                        "--ai-thread", "t7"}));
  EXPECT_EQ(spawn_options.stdout_mode, OutputMode::kFile);
  EXPECT_EQ(spawn_options.stderr_mode, OutputMode::kFile);
  EXPECT_EQ(spawn_options.output_file, log_dir + "/dashboard.log");
  EXPECT_EQ(std::filesystem::status(log_dir + "/dashboard.log").permissions(), std::filesystem::perms(0600));
  EXPECT_TRUE(detached.calls.empty());
}

TEST_F(PrintUrl, WithoutSetsidTheServerIsStartedDetachedWithoutWaiting) {
  server_appears_on(8930, 1);
  runner.prints("setsid", "", 1);
  detached.on("/opt/loomdeck", [this](const std::vector<std::string>&, const ProcessOptions& o) {
    spawned = true;
    spawn_options = o;
    return exited(0);
  });
  const Run r = run({"loomdeck", "serve", "--print-url", "--port", "8935", "--target", "Studio"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "http://127.0.0.1:8930/\nOK: loomdeck serving on port 8930 (backgrounded; log: " + log_dir +
                       "/dashboard.log)\n");
  ASSERT_EQ(detached.calls.size(), 1u);
  EXPECT_EQ(detached.calls[0], (std::vector<std::string>{"/opt/loomdeck", "serve", "--port", "8935", "--target",
                                                         "Studio", "--ai-thread", "loomdeck"}));
  EXPECT_EQ(spawn_options.output_file, log_dir + "/dashboard.log");
}

TEST_F(PrintUrl, AnUnwritableLogSendsTheServerOutputToTheNullDevice) {
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "home") << "a file where the directory should be";
  server_appears_on(8930, 1);
  runner.on("setsid", [this](const std::vector<std::string>& argv, const ProcessOptions& o) {
    if (argv[1] == "-f") {
      spawned = true;
      spawn_options = o;
    }
    return exited(0);
  });
  EXPECT_EQ(run({"loomdeck", "serve", "--print-url"}).status, 0);
  EXPECT_EQ(spawn_options.stdout_mode, OutputMode::kDiscard);
  EXPECT_EQ(spawn_options.stderr_mode, OutputMode::kDiscard);
}

TEST_F(PrintUrl, ASpawnThatCannotStartFails) {
  server_appears_on(8930, 0);
  const Run r = run({"loomdeck", "serve", "--print-url"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "ERROR: could not spawn the background server\nHint: Run `loomdeck serve` by hand and read its output.\n");
  EXPECT_EQ(clock.elapsed(), 0);
}

TEST_F(PrintUrl, GivesUpAfterFortyPollsOfAQuarterSecond) {
  server_appears_on(8930, 1000);
  runner.prints("setsid", "setsid from util-linux\n");
  const Run r = run({"loomdeck", "serve", "--print-url"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ERROR: background server did not answer within 10s\nHint: Read " + log_dir +
                       "/dashboard.log for its output.\n");
  EXPECT_EQ(clock.elapsed(), 10);
  EXPECT_EQ(scans, 41);
}

TEST_F(PrintUrl, TenSecondsMeanTenSecondsWhenEachLookIsSlow) {
  server_appears_on(8930, 1000);
  runner.prints("setsid", "setsid from util-linux\n");
  runner.on("curl", [this](const std::vector<std::string>&, const ProcessOptions&) {
    clock.advance(std::chrono::milliseconds(200));
    return exited(7);
  });
  EXPECT_EQ(run({"loomdeck", "serve", "--print-url"}).status, 1);
  // A look before the spawn, ten seconds of looks, and the one under way when they ran out
  // (counting forty looks instead took 98 s here).
  EXPECT_LT(clock.elapsed(), 15);
}

}  // namespace
}  // namespace loomdeck
