#include "main/idle_supervisor.h"

#include <gtest/gtest.h>

#include "fakes.h"
#include "main/dock_webview.h"

namespace loomdeck {
namespace {

std::string ping(const std::string& version) {
  return R"({"app":"loomdeck","dashboardVersion":")" + version + R"("})";
}

TEST(IdleSupervisorRules, RetireAndReapNeedNoViewersAndStrictlyMoreIdleTime) {
  EXPECT_FALSE(may_retire(600, 0));
  EXPECT_TRUE(may_retire(601, 0));
  EXPECT_FALSE(may_retire(100000, 1));
  EXPECT_FALSE(may_reap(86400, 0));
  EXPECT_TRUE(may_reap(86401, 0));
  EXPECT_FALSE(may_reap(86401, 2));
}

TEST(IdleSupervisorRules, SuccessorIsAnotherVersionTextThatIsNotOlder) {
  EXPECT_EQ(successor_version(ping("1.10.21"), "1.10.20"), "1.10.21");
  EXPECT_EQ(successor_version(ping("v1.10.20"), "1.10.20"), "v1.10.20");
  EXPECT_EQ(successor_version(ping("1.11.0-beta"), "1.10.20"), "1.11.0-beta");
  EXPECT_FALSE(successor_version(ping("1.10.20"), "1.10.20"));
  EXPECT_FALSE(successor_version(ping("1.10.19"), "1.10.20"));
  EXPECT_FALSE(successor_version(ping("banana"), "1.10.20"));
}

TEST(IdleSupervisorRules, RepliesThatAreNotLoomdeckPingsAreSkipped) {
  EXPECT_FALSE(successor_version("", "1.10.20"));
  EXPECT_FALSE(successor_version(R"({"app": "loomdeck","dashboardVersion":"9.0"})", "1.10.20"));
  EXPECT_FALSE(successor_version(R"({"app":"other","dashboardVersion":"9.0"})", "1.10.20"));
  EXPECT_FALSE(successor_version(R"("app":"loomdeck" not json)", "1.10.20"));
  EXPECT_FALSE(successor_version(R"({"app":"loomdeck","dashboardVersion":9})", "1.10.20"));
  EXPECT_FALSE(successor_version(R"({"app":"loomdeck"})", "1.10.20"));
  EXPECT_EQ(successor_version("{\"app\":\"loomdeck\",\"dashboardVersion\":\"9.0\xff\"}", "1.10.20"),
            "9.0\xEF\xBF\xBD");
}

TEST(IdleSupervisorRules, RetireLineCountsWholeMinutes) {
  EXPECT_EQ(retire_line("1.10.21", "1.10.20", 719),
            "v1.10.21 is serving and I am v1.10.20 with no viewers for 11m - retiring");
}

class IdleSupervisorTick : public ::testing::Test {
 protected:
  FakeClock clock;
  FakeRunner runner;
  ScriptedBridge bridge;
  ServerState state{"loomdeck", "", clock, runner, bridge};

  // Every port answers with the reply the map gives it, or nothing.
  void answer_pings(std::map<std::string, std::string> replies) {
    runner.on("curl", [replies](const std::vector<std::string>& argv, const ProcessOptions&) {
      ProcessResult r;
      r.started = true;
      const auto it = replies.find(argv.back());
      r.exit_code = it == replies.end() ? 7 : 0;
      if (it != replies.end()) r.out = it->second;
      return r;
    });
  }
};

TEST_F(IdleSupervisorTick, OldServerRetiresForANewerOneAfterElevenIdleMinutes) {
  answer_pings({{"http://127.0.0.1:8930/api/ping", ping("1.10.20")},
                {"http://127.0.0.1:8933/api/ping", ping("1.10.21")},
                {"http://127.0.0.1:8934/api/ping", ping("1.10.22")}});
  clock.advance(std::chrono::seconds(360));
  EXPECT_EQ(idle_supervisor_tick(state), "v1.10.21 is serving and I am v1.10.20 with no viewers for 11m - retiring");
  EXPECT_EQ(clock.elapsed(), 660);
  ASSERT_EQ(runner.calls.size(), 4u);
  EXPECT_EQ(runner.calls[0], (std::vector<std::string>{"curl", "-s", "-m", "1", "http://127.0.0.1:8930/api/ping"}));
  EXPECT_EQ(runner.calls[3].back(), "http://127.0.0.1:8933/api/ping");
}

TEST_F(IdleSupervisorTick, NewerServerKeepsServingBesideOlderOnes) {
  answer_pings({{"http://127.0.0.1:8931/api/ping", ping("1.10.19")}, {"http://127.0.0.1:8932/api/ping", ping("0.9")}});
  clock.advance(std::chrono::hours(2));
  EXPECT_FALSE(idle_supervisor_tick(state));
  EXPECT_EQ(runner.calls.size(), 11u);
}

TEST_F(IdleSupervisorTick, NoScanBeforeTenIdleMinutes) {
  answer_pings({{"http://127.0.0.1:8931/api/ping", ping("2.0.0")}});
  clock.advance(std::chrono::seconds(300));
  EXPECT_FALSE(idle_supervisor_tick(state));
  EXPECT_TRUE(runner.calls.empty());
  state.touch();
  EXPECT_FALSE(idle_supervisor_tick(state));
  EXPECT_FALSE(idle_supervisor_tick(state));
  EXPECT_TRUE(runner.calls.empty());
  EXPECT_TRUE(idle_supervisor_tick(state));
}

TEST_F(IdleSupervisorTick, AnOpenEventStreamKeepsTheServerForever) {
  answer_pings({{"http://127.0.0.1:8931/api/ping", ping("2.0.0")}});
  const auto viewer = state.events.subscribe();
  clock.advance(std::chrono::hours(48));
  EXPECT_FALSE(idle_supervisor_tick(state));
  EXPECT_TRUE(runner.calls.empty());
  viewer->close();
  EXPECT_TRUE(idle_supervisor_tick(state));
}

TEST_F(IdleSupervisorTick, ReapsAfterADayEvenWhenNoPeerAnswers) {
  answer_pings({});
  clock.advance(std::chrono::seconds(86400 - 300));
  EXPECT_FALSE(idle_supervisor_tick(state));
  EXPECT_EQ(idle_supervisor_tick(state), std::string(kReapLine));
}

TEST_F(IdleSupervisorTick, MissingCurlEndsTheScanButNotTheReaping) {
  clock.advance(std::chrono::hours(30));
  EXPECT_EQ(idle_supervisor_tick(state), std::string(kReapLine));
  EXPECT_EQ(runner.calls.size(), 1u);
}

TEST(DockWebview, NeedsANameWithMoreThanWhiteSpace) {
  EXPECT_FALSE(dock_webview_name(nullptr));
  EXPECT_FALSE(dock_webview_name(""));
  EXPECT_FALSE(dock_webview_name(" \t\n"));
  EXPECT_EQ(dock_webview_name(" Gantry "), " Gantry ");
}

TEST(DockWebview, WaitsThenOpensOrRefreshesTheTabAndIgnoresTheOutcome) {
  FakeClock clock;
  FakeRunner runner;
  ProcessOptions seen;
  runner.on("ovra-cli", [&seen](const std::vector<std::string>&, const ProcessOptions& o) {
    seen = o;
    ProcessResult r;
    r.started = true;
    r.exit_code = 3;
    return r;
  });
  open_dock_webview(clock, runner, "Gantry", "/proxy/8930/");
  EXPECT_EQ(clock.elapsed(), 0.8);
  ASSERT_EQ(runner.calls.size(), 1u);
  EXPECT_EQ(runner.calls[0], (std::vector<std::string>{"ovra-cli", "brindle", "webview", "open-or-refresh", "--name",
                                                       "Gantry", "--url", "/proxy/8930/"}));
  EXPECT_EQ(seen.stdout_mode, OutputMode::kDiscard);
  EXPECT_EQ(seen.stderr_mode, OutputMode::kDiscard);
}

}  // namespace
}  // namespace loomdeck
