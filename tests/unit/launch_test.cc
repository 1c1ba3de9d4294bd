#include "actions/launch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "action_services.h"
#include "actions/ready_first.h"
#include "fakes.h"

namespace loomdeck {
namespace {

using std::chrono::seconds;

// A box simulated on the test clock: Fusion comes up `launch_s` after a start, its add-in
// serves unless `silent`, and a restart (stop + kill + start) heals a silent add-in.
struct SimBox {
  FakeClock& clock;
  double launch_s = 20;
  bool silent = false;
  bool launch_takes = true;
  bool running = false;
  double started_at = -1;
  json dialogs = json::array();
  json timings = json::object();

  bool ready() const { return running && !silent && clock.elapsed() - started_at >= launch_s; }
  void install(ScriptedBridge& bridge) {
    bridge.on("fusion_readiness", [this](const std::string&, const std::string&) {
      json r = {{"running", running}, {"ready", ready()}, {"bridgeVersion", "9"}};
      if (running && !ready() && !silent) {
        r["progress"] = {{"phase", "loading"}, {"percent", 40}, {"etaSec", 12}, {"stepLabel", "Loading add-ins"}};
      }
      return json{{"data", r}};
    });
    bridge.on("fusion_state", [this](const std::string&, const std::string&) {
      return json{{"running", running},
                  {"addinResponding", ready()},
                  {"blockingDialogs", dialogs},
                  {"timings", timings}};
    });
    bridge.on("fusion_start", [this](const std::string&, const std::string&) {
      if (launch_takes && !running) {
        running = true;
        started_at = clock.elapsed();
      }
      return json{{"success", true}};
    });
    bridge.on("fusion_stop", [](const std::string&, const std::string&) { return json{{"success", false}}; });
    bridge.on("fusion_kill", [this](const std::string&, const std::string&) {
      running = false;
      silent = false;
      return json{{"success", true}};
    });
    bridge.on("fusion_dismiss_blocking_dialogs", [](const std::string&, const std::string&) {
      return json{{"ok", true}};
    });
    for (const char* t : {"fusion_aps_status", "fusion_mcp_status", "fusion_set_auto_update",
                          "fusion_set_seat_takeover", "fusion_set_driving_badge", "fusion_set_activity_indicator"}) {
      bridge.answer(t, json::object());
    }
  }
};

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box_.install(bridge_);
    svc_.run_in_background = [this](std::function<void()> work) { held_back_.push_back(std::move(work)); };
  }

  FakeClock clock_;
  FakeRunner runner_;
  ScriptedBridge bridge_;
  RecordingSink sink_;
  SimBox box_{clock_};
  ActionServices svc_{clock_, bridge_, sink_};
  std::vector<std::function<void()>> held_back_;
};

TEST_F(LaunchTest, AlreadyReadyNeedsNoToastAndNoWait) {
  box_.running = true;
  box_.started_at = -100;
  EXPECT_TRUE(ready_first(svc_.green_runs, "Studio", 240));
  EXPECT_TRUE(sink_.events().empty());
  EXPECT_EQ(clock_.elapsed(), 0);
  EXPECT_EQ(bridge_.tools(), std::vector<std::string>{"fusion_readiness"});
}

TEST_F(LaunchTest, BudgetFromMeasuredLaunchTimes) {
  EXPECT_EQ(launch_budget(json::object(), 240), 240);
  EXPECT_EQ(launch_budget(json::parse(R"({"timings":{"launch":{"cold":{"p90":30}}}})"), 240), 240);
  EXPECT_EQ(launch_budget(json::parse(R"({"timings":{"launch":{"cold":{"p90":200}}}})"), 240), 520);
  EXPECT_EQ(launch_budget(json::parse(R"({"timings":{"launch":{"cold":{"p90":200.9}}}})"), 240), 521);
  EXPECT_EQ(launch_budget(json::parse(R"({"timings":{"launch":{"cold":{"p90":0,"p50":500}}}})"), 240), 240);
  EXPECT_EQ(launch_budget(json::parse(R"({"timings":{"launch":{"cold":{"p50":100}}}})"), 240), 320);
}

TEST_F(LaunchTest, LaunchesWaitsAndReportsProgressOnce) {
  EXPECT_TRUE(ensure_ready(svc_.status, "Studio", 240));
  EXPECT_EQ(bridge_.count("fusion_start"), 1);
  EXPECT_FALSE(svc_.status.launches_in_flight.contains("Studio"));
  const std::vector<std::string> toasts = sink_.toasts();
  ASSERT_EQ(toasts.size(), 3u);
  EXPECT_EQ(toasts[0], "Opening Fusion on Studio");
  EXPECT_EQ(toasts[1], "Loading add-ins - about 12s left (typical)");
  EXPECT_EQ(toasts[2], "Fusion is ready - continuing");
  int progress = 0;
  for (const auto& [name, value] : sink_.events()) {
    if (name == "progress") {
      ++progress;
      EXPECT_EQ(
          value,
          json::parse(
              R"({"confidence":null,"elapsedSec":null,"etaSec":12,"percent":40,"phase":"loading","startKind":null,"stepLabel":"Loading add-ins","target":"Studio"})"));
    }
  }
  EXPECT_GE(progress, 2);
  EXPECT_EQ(sink_.events().back().first, "state");
  EXPECT_EQ(sink_.events().back().second["target"], "Studio");
  const auto lines = svc_.log.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "wait_ready_with_heal: launching Fusion on Studio"), lines.end());
}

TEST_F(LaunchTest, LaunchThatDoesNotTakeIsRetriedEvery75SecondsUntilTheBudgetEnds) {
  box_.launch_takes = false;
  EXPECT_FALSE(ensure_ready(svc_.status, "Studio", 240));
  // Launches at 5 s, 85 s, 165 s: more than 75 s apart each time.
  EXPECT_EQ(bridge_.count("fusion_start"), 3);
  EXPECT_GE(clock_.elapsed(), 240);
  EXPECT_LT(clock_.elapsed(), 250);
  EXPECT_EQ(sink_.toasts().back(), "Opening Fusion on Studio");
}

// A launch is in flight only once the bridge has accepted it; a refused one, or one the runner
// could not ask for, leaves the reason for the status instead, the box named even when empty.
TEST_F(LaunchTest, StartFusionMarksOnlyAnAcceptedLaunch) {
  const struct {
    std::string box;
    json reply;
    bool in_flight;
    std::optional<std::string> why;
  } cases[] = {
      {"Studio", json{{"success", true}, {"launching", true}}, true, std::nullopt},
      {"Studio", json{{"success", true}, {"alreadyRunning", true}}, false, std::nullopt},
      {"Studio", json{{"success", false}, {"error", "Fusion is not installed on Studio"}}, false,
       "Fusion is not starting on Studio: Fusion is not installed on Studio"},
      {"Studio", json{{"success", false}}, false,
       "Fusion is not starting on Studio: the bridge refused without saying why"},
      {"", json{{"error", "ovra-bridge CLI not runnable: No such file or directory"}}, false,
       "Fusion is not starting on the default box: ovra-bridge CLI not runnable: No such file or directory"},
  };
  for (const auto& c : cases) {
    svc_.status.launch_failure_hints.set(c.box, "an older failure");
    bridge_.answer("fusion_start", c.reply);
    const LaunchStart start = start_fusion(svc_.status, c.box);
    EXPECT_EQ(start.result, c.reply);
    EXPECT_EQ(start.refused, c.why);
    EXPECT_EQ(svc_.status.launches_in_flight.contains(c.box), c.in_flight) << c.reply;
    EXPECT_EQ(svc_.status.launch_failure_hints.get(c.box), c.why) << c.reply;
    svc_.status.launches_in_flight.erase(c.box);
  }
  // A box the bridge does not know keeps no launch hint.
  bridge_.answer("fusion_start", json{{"error", "unknown target 'Nope'"}});
  EXPECT_TRUE(start_fusion(svc_.status, "Nope").refused);
  EXPECT_FALSE(svc_.status.launch_failure_hints.contains("Nope"));
  // In ensure_ready a refused start is said, not announced as an opening.
  bridge_.answer("fusion_start", json{{"success", false}, {"error", "Fusion is not installed on Studio"}});
  EXPECT_FALSE(ensure_ready(svc_.status, "Studio", 10));
  EXPECT_EQ(sink_.toasts(),
            std::vector<std::string>{"Fusion is not starting on Studio: Fusion is not installed on Studio"});
  EXPECT_FALSE(svc_.status.launches_in_flight.contains("Studio"));
}

TEST_F(LaunchTest, SilentAddinIsHealedExactlyOncePerCall) {
  box_.silent = true;
  box_.launch_s = 1000;  // after the heal the add-in still does not come up in this call
  EXPECT_FALSE(ensure_ready(svc_.status, "Studio", 300));
  EXPECT_EQ(bridge_.count("fusion_stop"), 1);
  EXPECT_EQ(bridge_.count("fusion_kill"), 1);
  const std::vector<std::string> toasts = sink_.toasts();
  EXPECT_EQ(std::count(toasts.begin(), toasts.end(),
                       "Fusion is up but its bridge add-in did not start - restarting Fusion for you"),
            1);
  for (const BridgeCall& c : bridge_.calls()) {
    if (c.tool == "fusion_stop") {
      EXPECT_EQ(c.args, "{\"reason\":\"dashboard: add-in not serving, restarting to load it\"}");
    }
  }
}

TEST_F(LaunchTest, SilentAddinHealedByTheRestartBecomesReady) {
  box_.silent = true;
  EXPECT_TRUE(ensure_ready(svc_.status, "Studio", 300));
  EXPECT_EQ(bridge_.count("fusion_kill"), 1);
  EXPECT_EQ(sink_.toasts().back(), "Fusion is ready - continuing");
}

TEST_F(LaunchTest, BlockingDialogsAreDismissedOnEveryPassAfter40Seconds) {
  box_.launch_s = 70;
  box_.dialogs = json::array({"Update available"});
  EXPECT_TRUE(ensure_ready(svc_.status, "Studio", 240));
  // Passes at 45, 50, 55, 60, 65, 70 s are past 40 s with the add-in not yet ready.
  EXPECT_EQ(bridge_.count("fusion_dismiss_blocking_dialogs"), 6);
}

TEST_F(LaunchTest, ReadyFirstStartsAGreenRunAndUsesTheMeasuredBudget) {
  box_.launch_takes = false;
  box_.timings = json::parse(R"({"launch":{"cold":{"p90":200}}})");
  EXPECT_FALSE(ready_first(svc_.green_runs, "Studio", 240));
  EXPECT_EQ(sink_.toasts().front(), "Getting Studio ready first - launching Fusion and waiting for the bridge add-in");
  EXPECT_TRUE(svc_.green_runs.registry.in_flight("Studio"));
  EXPECT_EQ(held_back_.size(), 1u);
  EXPECT_GE(clock_.elapsed(), 520);
}

}  // namespace
}  // namespace loomdeck
