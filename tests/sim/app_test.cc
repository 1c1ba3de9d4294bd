#include <csignal>

#include "app.h"
#include "sim_fixtures.h"

namespace sim::testing {
namespace {

struct Cli {
  TempDir dir;
  Store store{dir.path};
  FakeClock clock{kT0};
  RunResult run(std::vector<std::string> args) { return bridge_command(args, store, clock); }
  json tool(const std::string& name, const std::string& args = "{}", const std::string& box = "Studio", const std::string& thread = "tests") {
    RunResult r = run({"--target", box, "--ai-thread", thread, name, args});
    return json::parse(r.out, nullptr, false);
  }
  std::vector<json> log() {
    std::vector<json> lines;
    std::string text = store.activity();
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(json::parse(text.substr(start, end - start)));
    return lines;
  }
};

TEST(BridgeCli, TargetsListsTheScenarioBoxesInOrderAndIsLogged) {
  Cli c;
  RunResult r = c.run({"targets"});
  EXPECT_EQ(r.exit_code, 0);
  json t = json::parse(r.out);
  EXPECT_EQ(t["targets"][0]["name"], "Studio");
  EXPECT_EQ(t["targets"][1]["name"], "Bench");
  auto log = c.log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0]["tool"], "targets");
  EXPECT_EQ(log[0]["time"], "2025-06-15T15:06:40.000Z");
}

TEST(BridgeCli, EveryToolCallIsLoggedWithItsThreadTargetAndRawArguments) {
  Cli c;
  c.tool("fusion_state", "{\"screenshot\":false}", "Bench", "loomdeck");
  c.tool("fusion_set_driving_badge", "{ \"enabled\" : false }", "Studio", "agent-7");
  auto log = c.log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], json({{"time", "2025-06-15T15:06:40.000Z"}, {"aiThread", "loomdeck"}, {"target", "Bench"}, {"tool", "fusion_state"},
                          {"args", "{\"screenshot\":false}"}}));
  EXPECT_EQ(log[1]["aiThread"], "agent-7");
  EXPECT_EQ(log[1]["args"], "{ \"enabled\" : false }");
}

TEST(BridgeCli, ContractErrorsAreJsonWithExitStatusOne) {
  Cli c;
  RunResult r = c.run({"--target", "Attic", "--ai-thread", "t", "fusion_readiness", "{}"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(json::parse(r.out), json({{"error", "unknown target 'Attic'"}, {"_hint", "ovra-bridge targets lists the boxes: Studio, Bench."}}));
  r = c.run({"--target", "Studio", "--ai-thread", "t", "fusion_readiness", "{\"a\":"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(json::parse(r.out)["error"], "arguments are not valid JSON: {\"a\":");
  r = c.run({"--target", "Studio", "--ai-thread", "t", "fusion_readiness", "\xff\xfe"});
  EXPECT_EQ(json::parse(r.out)["error"], "arguments are not valid JSON: \xEF\xBF\xBD\xEF\xBF\xBD");
  r = c.run({});
  EXPECT_EQ(r.exit_code, 2);
}

TEST(BridgeCli, AnEmptyTargetMeansTheFirstBox) {
  Cli c;
  c.run({"sim", "set", "Studio", "running=true"});
  EXPECT_EQ(c.tool("fusion_readiness", "{}", "")["data"]["running"], true);
}

TEST(BridgeCli, ATimedVerbWaitsOnTheClockWithoutHoldingTheBox) {
  Cli c;
  c.run({"sim", "set", "Studio", "running=true", "mcpEnableSeconds=7"});
  json r = c.tool("fusion_mcp_enable");
  EXPECT_EQ(r["success"], true);
  EXPECT_EQ(c.clock.slept_ms(), 7000);
  EXPECT_EQ(c.tool("fusion_mcp_status")["enabled"], true);
}

TEST(BridgeCli, FaultsShapeTheOutputAndAreLogged) {
  Cli c;
  EXPECT_EQ(c.run({"sim", "fault", "Studio", "fusion_readiness", "delay", "1500"}).exit_code, 0);
  EXPECT_EQ(c.run({"sim", "fault", "Studio", "fusion_readiness", "exit", "4", "--count", "1"}).exit_code, 0);
  RunResult r = c.run({"--target", "Studio", "--ai-thread", "t", "fusion_readiness", "{}"});
  EXPECT_EQ(c.clock.slept_ms(), 1500);
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(json::parse(r.out)["ok"], true);
  EXPECT_EQ(c.log().back()["faults"], json({"delay", "exit"}));
  r = c.run({"--target", "Studio", "--ai-thread", "t", "fusion_readiness", "{}"});
  EXPECT_EQ(r.exit_code, 0);

  c.run({"sim", "clear-faults"});
  c.run({"sim", "fault", "*", "*", "hang"});
  r = c.run({"--target", "Bench", "--ai-thread", "t", "fusion_state", "{}"});
  EXPECT_TRUE(r.hang);
  EXPECT_EQ(r.out, "");
  r = c.run({"targets"});
  EXPECT_TRUE(r.hang);

  c.run({"sim", "clear-faults"});
  c.run({"sim", "fault", "*", "fusion_kill", "crash", "segv"});
  r = c.run({"--target", "Studio", "--ai-thread", "t", "fusion_kill", "{}"});
  EXPECT_EQ(r.signal, SIGSEGV);
  EXPECT_TRUE(json::parse(r.out, nullptr, false).is_discarded());
}

// A clock whose sleeps let another caller act: Fusion is killed while a verb is waited for.
class KillingClock : public FakeClock {
 public:
  KillingClock(Store& store) : FakeClock(kT0), store_(store) {}
  void sleep_until_ms(int64_t when_ms) override {
    FakeClock::sleep_until_ms(when_ms);
    if (!killed_) {
      killed_ = true;
      store_.update({"Studio"}, [this](Boxes& b) {
        CallEnv env{now_ms(), nullptr};
        run_tool("fusion_kill", json::object(), "Studio", b, env);
      });
    }
  }

 private:
  Store& store_;
  bool killed_ = false;
};

TEST(BridgeCli, AVerbCutShortByAKillAnswersWithoutWaitingOutItsDuration) {
  Cli c;
  c.run({"sim", "set", "Studio", "running=true", "mcpEnableSeconds=40"});
  KillingClock clock(c.store);
  RunResult r = bridge_command({"--target", "Studio", "--ai-thread", "t", "fusion_mcp_enable", "{}"}, c.store, clock);
  EXPECT_EQ(json::parse(r.out), json({{"success", false}, {"error", "Fusion was killed"}}));
  EXPECT_EQ(clock.slept_ms(), 250);
}

TEST(SimVerbs, SetShowAdvanceAndEnterPassword) {
  Cli c;
  RunResult r = c.run({"sim", "set", "Studio", "launchSeconds=1", "blockingDialogs=[\"Update available\"]", "fusionUser=ada@example.com"});
  EXPECT_EQ(r.out, "OK: Studio launchSeconds=1 blockingDialogs=[\"Update available\"] fusionUser=\"ada@example.com\"\n");
  json shown = json::parse(c.run({"sim", "show", "Studio"}).out);
  EXPECT_EQ(shown["launchSeconds"], 1);
  EXPECT_EQ(shown["blockingDialogs"], json({"Update available"}));
  EXPECT_EQ(shown["fusionUser"], "ada@example.com");

  r = c.run({"sim", "set", "Studio", "running=maybe"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "ERROR: running must be true or false\n");
  r = c.run({"sim", "set", "Studio", "colour=blue"});
  EXPECT_EQ(r.err, "ERROR: unknown key colour (sim show <box> lists every key)\n");
  r = c.run({"sim", "set", "Attic", "running=true"});
  EXPECT_EQ(r.err, "ERROR: unknown box Attic (sim show lists the boxes)\n");

  c.tool("fusion_start");
  c.run({"sim", "advance", "Studio", "1"});
  EXPECT_EQ(c.tool("fusion_readiness")["data"]["ready"], false);  // the dialog still blocks it
  c.tool("fusion_dismiss_blocking_dialogs");
  EXPECT_EQ(c.tool("fusion_readiness")["data"]["ready"], true);

  c.run({"sim", "reset", "signin-wall"});
  c.run({"sim", "set", "Studio", "running=true"});
  EXPECT_EQ(c.run({"sim", "enter-password", "Studio"}).exit_code, 0);
  EXPECT_EQ(c.tool("fusion_readiness")["data"]["ready"], true);
  EXPECT_EQ(c.run({"sim", "enter-password", "Studio"}).err, "ERROR: no sign-in is waiting on this box\n");
  EXPECT_EQ(c.run({"sim", "reset", "nowhere"}).err, "ERROR: unknown scenario nowhere (sim scenarios lists them)\n");
}

TEST(SimVerbs, BusyOccupiesTheMainThreadForAWhile) {
  Cli c;
  c.run({"sim", "reset", "signed-in"});
  c.run({"sim", "busy", "Studio", "30", "fusion_build_3d"});
  json r = c.tool("fusion_open_lbr", "{\"filePath\":\"C:/x.lbr\"}");
  EXPECT_EQ(r["ok"], false);
  EXPECT_EQ(r["data"]["errorCode"], "main_thread_busy");
  EXPECT_EQ(r["error"], "main thread busy: fusion_build_3d is in progress from another caller");
  c.run({"sim", "advance", "Studio", "30"});
  EXPECT_FALSE(c.tool("fusion_state").contains("mainThreadBusy"));
}

TEST(SimVerbs, AddBoxAppendsToTargets) {
  Cli c;
  EXPECT_EQ(c.run({"sim", "add-box", "Garage"}).out, "OK: added box Garage\n");
  json t = json::parse(c.run({"targets"}).out);
  EXPECT_EQ(t["targets"][2]["name"], "Garage");
  EXPECT_EQ(c.tool("fusion_readiness", "{}", "Garage")["data"]["installed"], true);
}

}  // namespace
}  // namespace sim::testing
