#include "main/mcp_verb.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "fakes.h"

namespace loomdeck {
namespace {

using Argv = std::vector<std::string>;

const std::string kPingReply = R"({"app":"loomdeck","dashboardVersion":"1.10.20"})";

class McpBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("mcp-backend-" + std::to_string(::getpid()) + "-" +
                                                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    log_dir = (dir / ".ovra/gantry").string();
    runner.prints("setsid", "setsid from util-linux\n");
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  // The server on `port` answers its ping and its routes from `replies` (path -> reply) while
  // `up` holds.
  void server_on(uint16_t port, std::map<std::string, std::string> replies) {
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    runner.on("curl", [this, base, replies](const Argv& argv, const ProcessOptions&) {
      if (!up) return exited(7);
      if (argv.back() == base + "/api/ping") return exited(0, kPingReply);
      const auto it = replies.find(argv.back().substr(base.size()));
      return argv.back().starts_with(base) && it != replies.end() ? exited(0, it->second) : exited(7);
    });
  }
  // Nothing answers until the background server has been started.
  void starts_when_spawned() {
    up = false;
    runner.on("setsid", [this](const Argv& argv, const ProcessOptions&) {
      if (argv[1] == "-f") {
        spawned = argv;
        up = true;
      }
      return exited(0, "setsid from util-linux\n");
    });
  }
  json call(McpBackend& backend, const char* tool, const json& arguments) { return backend.call_tool(tool, arguments); }
  static json text_of(const json& result) { return json::parse(result["content"][0]["text"].get<std::string>()); }

  std::filesystem::path dir;
  std::string log_dir;
  FakeClock clock;
  FakeRunner runner;
  FakeRunner detached;
  bool up = true;
  Argv spawned;
  std::ostringstream diagnostics;
};

TEST_F(McpBackendTest, UsesTheRunningServerAsksItAgainEachTimeAndSaysWhenItStopsAnswering) {
  server_on(8932, {{"/api/status?target=Studio", R"({"answered":true,"target":"Studio"})"}});
  LauncherSeams seams{clock, runner, detached, "/opt/loomdeck", log_dir};
  McpBackend backend(parse_command_line({"loomdeck", "mcp"}), seams, diagnostics);
  const json first = call(backend, "status", {{"target", "Studio"}});
  EXPECT_EQ(first["isError"], false);
  EXPECT_EQ(text_of(first), (json{{"answered", true}, {"target", "Studio"}}));
  EXPECT_EQ(runner.calls.back(), (Argv{"curl", "-s", "-m", "120", "http://127.0.0.1:8932/api/status?target=Studio"}));
  EXPECT_EQ(diagnostics.str(), "loomdeck mcp: using the server on port 8932\n");

  runner.calls.clear();
  EXPECT_EQ(call(backend, "status", {{"target", "Studio"}})["isError"], false);
  EXPECT_EQ(runner.calls.front(), (Argv{"curl", "-s", "-m", "1", "http://127.0.0.1:8932/api/ping"}));
  EXPECT_EQ(runner.calls.size(), 2u);

  const json silent = call(backend, "console", json::object());
  EXPECT_EQ(silent["isError"], true);
  EXPECT_EQ(text_of(silent)["error"], "the loomdeck server on port 8932 did not answer console within 120s");
  EXPECT_TRUE(spawned.empty());
}

TEST_F(McpBackendTest, StartsAServerOnTheGivenPortWhenNoneAnswersThere) {
  server_on(8936, {{"/ui/toast", R"({"_hint":"...","delivered":1,"ok":true})"}});
  starts_when_spawned();
  LauncherSeams seams{clock, runner, detached, "/opt/loomdeck", log_dir};
  McpBackend backend(parse_command_line({"loomdeck", "mcp", "--port", "8936", "--ai-thread", "t7"}), seams,
                     diagnostics);
  const json result = call(backend, "toast", {{"message", "hi"}});
  EXPECT_EQ(result["isError"], false);
  EXPECT_EQ(spawned, (Argv{"setsid", "-f", "/opt/loomdeck", "serve", "--port", "8936", "--ai-thread", "t7"}));
  EXPECT_EQ(runner.calls.back(), (Argv{"curl", "-s", "-m", "120", "-X", "POST", "-H", "Content-Type: application/json",
                                       "-d", R"({"message":"hi"})", "http://127.0.0.1:8936/ui/toast"}));
  EXPECT_EQ(diagnostics.str(), "loomdeck mcp: started a server on port 8936\n");
  for (const Argv& argv : runner.calls) {
    if (argv[0] == "curl") {
      EXPECT_TRUE(argv.back().starts_with("http://127.0.0.1:8936/")) << argv.back();
    }
  }
}

TEST_F(McpBackendTest, NoServerToBeHadAndArgumentsThatDoNotFitAreToolErrors) {
  starts_when_spawned();
  runner.on("curl", [](const Argv&, const ProcessOptions&) { return exited(7); });
  LauncherSeams seams{clock, runner, detached, "/opt/loomdeck", log_dir};
  McpBackend backend(parse_command_line({"loomdeck", "mcp"}), seams, diagnostics);

  const json refused = call(backend, "toast", json::object());
  EXPECT_EQ(refused["isError"], true);
  EXPECT_EQ(text_of(refused)["error"], "message is required");
  EXPECT_TRUE(runner.calls.empty());

  const json none = call(backend, "targets", json::object());
  EXPECT_EQ(none["isError"], true);
  EXPECT_EQ(text_of(none),
            (json{{"error",
                   "no loomdeck server answering on 8930-8940, and none could be started: background server "
                   "did not answer within 10s"},
                  {"_hint", "Read " + log_dir +
                                "/dashboard.log for its output. Or start one yourself: `loomdeck "
                                "serve --print-url`."}}));
  EXPECT_EQ(diagnostics.str(), "");
}

}  // namespace
}  // namespace loomdeck
