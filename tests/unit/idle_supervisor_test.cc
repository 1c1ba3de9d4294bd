#include "main/idle_supervisor.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "fakes.h"
#include "main/dock_webview.h"
#include "server/answer.h"
#include "server/routes.h"

namespace loomdeck {
namespace {

std::string ping(const std::string& version) { return R"({"app":"loomdeck","dashboardVersion":")" + version + R"("})"; }

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
  EXPECT_EQ(successor_version("{\"app\":\"loomdeck\",\"dashboardVersion\":\"9.0\xff\"}", "1.10.20"), "9.0\xEF\xBF\xBD");
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
  ServerState state{"loomdeck", "", std::nullopt, clock, runner, bridge};

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

// Idle servers in the port range, each on its own clock, whose supervisors ping every port as
// they do in production: a ping reaches that server's own request path (so it counts as
// activity exactly when a real one would) and answers with the version the server runs.
class PortRange {
 public:
  struct Server {
    std::string version;
    FakeClock clock;
    FakeRunner runner;
    ScriptedBridge bridge;
    ServerState state{"loomdeck", "", std::nullopt, clock, runner, bridge};
    std::optional<int> ended_at_tick;
    std::string last_line;
  };

  Server& add(uint16_t port, std::string version) {
    auto server = std::make_unique<Server>();
    server->version = std::move(version);
    server->runner.on("curl", [this](const std::vector<std::string>& argv, const ProcessOptions&) {
      ProcessResult r;
      r.started = true;
      r.exit_code = 7;
      const std::string& url = argv.back();
      const auto it = serving_.find(static_cast<uint16_t>(std::stoi(url.substr(url.rfind(':') + 1))));
      if (it == serving_.end()) return r;
      Request ping;
      ping.method = "GET";
      split_target(url.substr(url.find('/', 7)), ping);
      StringStream reply;
      answer_request(it->second->state, ping, reply);
      r.exit_code = 0;
      r.out = R"({"app":"loomdeck","dashboardVersion":")" + it->second->version + R"("})";
      return r;
    });
    serving_[port] = server.get();
    servers_.push_back(std::move(server));
    return *servers_.back();
  }

  // Runs every supervisor tick by tick; a server whose tick says so leaves the range.
  void run_ticks(int ticks) {
    for (int tick = 1; tick <= ticks; ++tick) {
      for (auto it = serving_.begin(); it != serving_.end();) {
        Server& s = *it->second;
        if (const auto line = idle_supervisor_tick(s.state, s.version)) {
          s.ended_at_tick = tick;
          s.last_line = *line;
          it = serving_.erase(it);
        } else {
          ++it;
        }
      }
    }
  }

 private:
  std::vector<std::unique_ptr<Server>> servers_;
  std::map<uint16_t, Server*> serving_;
};

// Ticks come every 300 s: the 3rd is the first past 600 idle seconds, the 289th the first past a day.
TEST(IdleSupervisorDecisions, PingsOfDiscoveryAndOtherSupervisorsKeepNobodyAwake) {
  {
    PortRange range;
    PortRange::Server& a = range.add(8930, "1.10.20");
    PortRange::Server& b = range.add(8931, "1.10.20");
    range.run_ticks(300);
    EXPECT_EQ(a.ended_at_tick, 289);
    EXPECT_EQ(b.ended_at_tick, 289);
    EXPECT_EQ(a.last_line, kReapLine);
    EXPECT_EQ(b.last_line, kReapLine);
  }
  {
    PortRange range;
    PortRange::Server& older = range.add(8930, "1.10.19");
    PortRange::Server& newer = range.add(8931, "1.10.20");
    range.run_ticks(300);
    EXPECT_EQ(older.ended_at_tick, 3);
    EXPECT_EQ(older.last_line, "v1.10.20 is serving and I am v1.10.19 with no viewers for 15m - retiring");
    EXPECT_EQ(newer.ended_at_tick, 289);
  }
  {
    PortRange range;
    PortRange::Server& watched = range.add(8930, "1.10.20");
    PortRange::Server& other = range.add(8931, "1.10.20");
    const auto viewer = watched.state.events.subscribe();
    range.run_ticks(300);
    EXPECT_EQ(watched.ended_at_tick, std::nullopt);
    EXPECT_EQ(other.ended_at_tick, 289);
  }
}

TEST(IdleSupervisorDecisions, EveryOtherRequestCountsAsActivity) {
  EXPECT_FALSE(counts_as_activity("/api/ping"));
  EXPECT_FALSE(counts_as_activity("/events"));
  for (const char* path : {"/", "/health", "/api/health", "/api/status", "/console", "/nowhere"}) {
    EXPECT_TRUE(counts_as_activity(path)) << path;
  }
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
