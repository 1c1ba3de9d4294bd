#include "actions/auto_green.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "action_services.h"
#include "bridge/status_service.h"
#include "fakes.h"

namespace loomdeck {
namespace {

using std::chrono::seconds;

// A scripted box for the run: each facet is a flag the fake tools flip. A launch that takes lands
// 5 s after its start, with progress reported until then.
struct GreenBox {
  FakeClock& clock;
  bool running = false, ready = false, needs_signin = false, wall = false;
  bool mcp = false, aps_configured = true, aps_signed_in = false;
  bool launch_takes = true;
  double lands_at = -1;

  bool launching() const { return lands_at >= 0 && clock.elapsed() < lands_at; }
  void install(ScriptedBridge& bridge, const std::string& name) {
    bridge.on("fusion_readiness", [this, name](const std::string& box, const std::string&) {
      if (box != name) return json{{"running", false}};
      if (lands_at >= 0 && !launching()) {
        running = true;
        ready = ready || !needs_signin;
      }
      json r = {{"running", running},
                {"ready", ready},
                {"needsSignin", needs_signin},
                {"launching", launching()},
                {"bridgeVersion", "9"}};
      if (launching()) {
        r["progress"] = {{"percent", 30}, {"etaSec", 4}, {"stepLabel", "Loading add-ins"}, {"confidence", "measured"}};
      }
      return r;
    });
    bridge.on("fusion_aps_status", [this](const std::string&, const std::string&) {
      return json{{"data", {{"configured", aps_configured}, {"signedIn", aps_signed_in}}}};
    });
    bridge.on("fusion_mcp_status", [this](const std::string&, const std::string&) { return json{{"enabled", mcp}}; });
    for (const char* t : {"fusion_set_auto_update", "fusion_set_seat_takeover", "fusion_set_driving_badge",
                          "fusion_set_activity_indicator"}) {
      bridge.answer(t, json::object());
    }
    bridge.on("fusion_start", [this](const std::string&, const std::string&) {
      if (launch_takes) lands_at = clock.elapsed() + 5;
      return json{{"success", true}};
    });
    bridge.on("fusion_signin", [this](const std::string&, const std::string&) {
      return wall ? json{{"signinWall", "password"}} : json{{"ok", true}};
    });
    bridge.on("fusion_mcp_enable", [this](const std::string&, const std::string&) {
      mcp = true;
      return json{{"ok", true}};
    });
    bridge.on("fusion_aps_signin", [this](const std::string&, const std::string&) {
      aps_signed_in = aps_configured;
      return json{{"ok", true}};
    });
    bridge.answer("fusion_state", json{{"running", false}});
  }
};

class AutoGreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box_.install(bridge_, "Studio");
    bridge_.set_targets(json::parse(R"({"targets":[{"name":"studio"},{"name":""},{"name":"Bench"}]})"));
    svc_.run_in_background = [this](std::function<void()> work) { held_.push_back(std::move(work)); };
  }
  std::vector<std::string> log_tail() {
    std::vector<std::string> out;
    for (const std::string& l : svc_.log.lines()) {
      if (l.rfind("auto-green: ", 0) == 0) out.push_back(l.substr(12));
    }
    return out;
  }

  FakeClock clock_;
  FakeRunner runner_;
  ScriptedBridge bridge_;
  RecordingSink sink_;
  GreenBox box_{clock_};
  ActionServices svc_{clock_, bridge_, sink_};
  std::vector<std::function<void()>> held_;
};

TEST_F(AutoGreenTest, JoinedWhileInFlightAndWithin180SecondsUnlessForced) {
  EXPECT_TRUE(start_green_run(svc_.green_runs, "Studio", false));
  // Nothing is "starting" before the bridge has accepted a launch.
  EXPECT_FALSE(svc_.status.launches_in_flight.contains("Studio"));
  EXPECT_FALSE(start_green_run(svc_.green_runs, "Studio", false));
  EXPECT_FALSE(start_green_run(svc_.green_runs, "Studio", true));  // forcing never stacks a second run
  ASSERT_EQ(held_.size(), 1u);
  held_[0]();
  EXPECT_FALSE(svc_.green_runs.registry.in_flight("Studio"));
  clock_.advance(seconds(179));
  EXPECT_FALSE(start_green_run(svc_.green_runs, "Studio", false));
  clock_.advance(seconds(1));
  EXPECT_TRUE(start_green_run(svc_.green_runs, "Studio", false));
  EXPECT_FALSE(start_green_run(svc_.green_runs, "Bench", false) == false);
}

TEST_F(AutoGreenTest, FreshBoxIsDrivenAllGreenInOrder) {
  green_run(svc_.green_runs, "Studio");
  EXPECT_EQ(log_tail(), (std::vector<std::string>{
                            "Getting Studio ready - launching Fusion and its services in the background",
                            "Opening Fusion on Studio",
                            "Fusion is up and the bridge add-in is serving",
                            "Turning on the Fusion MCP server",
                            "Fusion MCP server enabled",
                            "Signing in to APS cloud search",
                            "APS cloud search is live",
                            "All green - ready to go",
                        }));
  // The launch's progress reaches the pages as the other launch paths send it, its first as a toast.
  std::vector<std::string> toasts = sink_.toasts();
  EXPECT_EQ(toasts[2], "Loading add-ins - about 4s left (measured)");
  toasts.erase(toasts.begin() + 2);
  EXPECT_EQ(toasts, log_tail());
  int progress = 0;
  for (const auto& [name, value] : sink_.events()) {
    if (name != "progress") continue;
    ++progress;
    EXPECT_EQ(value["target"], "Studio");
    EXPECT_EQ(value["stepLabel"], "Loading add-ins");
  }
  EXPECT_EQ(progress, 1);
  EXPECT_FALSE(svc_.status.launches_in_flight.contains("Studio"));
  EXPECT_FALSE(svc_.green_runs.registry.in_flight("Studio"));
  // The seat check asked the other named box, not this one (case-insensitive) nor the empty name.
  int probes_of_bench = 0;
  for (const BridgeCall& c : bridge_.calls()) {
    if (c.tool == "targets") continue;
    EXPECT_NE(c.box, "studio");
    EXPECT_NE(c.box, "");
    probes_of_bench += c.box == "Bench";
  }
  EXPECT_EQ(probes_of_bench, 1);
  // A state push marked "starting" went out once the bridge had accepted the launch.
  bool starting = false;
  for (const auto& [name, value] : sink_.events()) {
    if (name == "state" && value["leds"]["fusionRunning"]["state"] == "starting") starting = true;
  }
  EXPECT_TRUE(starting);
}

// No bridge to run, or a bridge that refuses the launch: nothing shows "starting", the run says
// why Fusion is not starting and stops there, and the status keeps that reason.
TEST_F(AutoGreenTest, ALaunchThatNeverStartedIsNotInFlightAndTheStatusSaysWhy) {
  const struct {
    std::string box;
    json start;
    std::string why;
  } cases[] = {
      {"", json{{"error", "ovra-bridge CLI not runnable: No such file or directory"}, {"_hint", "Install it."}},
       "Fusion is not starting on the default box: ovra-bridge CLI not runnable: No such file or directory"},
      {"Studio", json{{"success", false}, {"error", "Fusion is not installed on Studio"}},
       "Fusion is not starting on Studio: Fusion is not installed on Studio"},
  };
  for (const auto& c : cases) {
    ScriptedBridge bridge;
    RecordingSink sink;
    ActionServices services(clock_, bridge, sink);
    services.run_in_background = [this](std::function<void()> work) { held_.push_back(std::move(work)); };
    if (c.box.empty()) {
      bridge.on("fusion_readiness", [&c](const std::string&, const std::string&) { return c.start; });
    } else {
      box_.install(bridge, c.box);
    }
    bridge.answer("fusion_start", c.start);
    held_.clear();
    const double before = clock_.elapsed();
    ASSERT_TRUE(start_green_run(services.green_runs, c.box, false));
    ASSERT_EQ(held_.size(), 1u);
    held_[0]();
    const std::vector<std::string> toasts = sink.toasts();
    EXPECT_EQ(toasts.front(), "Getting " + (c.box.empty() ? std::string("the default box") : c.box) +
                                  " ready - launching Fusion and its services in the background");
    EXPECT_EQ(toasts.back(), c.why);
    EXPECT_EQ(clock_.elapsed(), before);  // no wait for a launch that never began
    EXPECT_FALSE(services.status.launches_in_flight.contains(c.box));
    EXPECT_FALSE(services.green_runs.registry.in_flight(c.box));
    for (const auto& [name, value] : sink.events()) {
      if (name == "state") {
        EXPECT_NE(value["leds"]["fusionRunning"]["state"], "starting") << c.box;
      }
    }
    // The last push already carries the reason.
    json last_state;
    for (const auto& [name, value] : sink.events()) {
      if (name == "state") last_state = value;
    }
    EXPECT_EQ(last_state["leds"]["fusionRunning"]["notStarting"], c.why);
    const json fusion = json(live_status(services.status, c.box))["leds"]["fusionRunning"];
    EXPECT_EQ(fusion["state"], "off");
    EXPECT_EQ(fusion["notStarting"], c.why);
    EXPECT_EQ(fusion["_hint"], c.why);
  }
}

TEST_F(AutoGreenTest, ARunThatEndedMomentsAgoSaysSoInsteadOfRunningAgain) {
  EXPECT_EQ(recent_run_note(svc_.green_runs, "Studio"), std::nullopt);
  ASSERT_TRUE(start_green_run(svc_.green_runs, "Studio", false));
  EXPECT_EQ(recent_run_note(svc_.green_runs, "Studio"), std::nullopt);  // in flight: its own toasts speak
  held_[0]();
  const std::string again = " - press Set up to run it again";
  EXPECT_EQ(recent_run_note(svc_.green_runs, "Studio"), "Studio was driven to green moments ago" + again);
  clock_.advance(seconds(150));
  EXPECT_EQ(recent_run_note(svc_.green_runs, "Studio"), "Studio was driven to green 2 min ago" + again);
  clock_.advance(seconds(30));
  EXPECT_EQ(recent_run_note(svc_.green_runs, "Studio"), std::nullopt);
  svc_.green_runs.registry.finish("", clock_.now());
  EXPECT_EQ(recent_run_note(svc_.green_runs, ""), "The default box was driven to green moments ago" + again);
}

TEST_F(AutoGreenTest, AlreadyGreenMakesNoCalls) {
  box_.running = box_.ready = box_.mcp = box_.aps_signed_in = true;
  green_run(svc_.green_runs, "Studio");
  EXPECT_EQ(sink_.toasts(),
            (std::vector<std::string>{"Everything is already green on this box", "All green - ready to go"}));
  for (const char* t : {"fusion_start", "fusion_signin", "fusion_mcp_enable", "fusion_aps_signin"}) {
    EXPECT_EQ(bridge_.count(t), 0) << t;
  }
}

TEST_F(AutoGreenTest, SeatElsewhereNeverLaunchesAndShowsTheSeatText) {
  bridge_.on("fusion_readiness", [](const std::string& box, const std::string&) {
    return json{{"running", box == "Bench"}, {"bridgeVersion", "9"}};
  });
  ASSERT_TRUE(start_green_run(svc_.green_runs, "Studio", false));
  held_[0]();
  const std::string text =
      "Fusion is live on Bench right now - starting it here would take the one Autodesk seat and suspend that box "
      "mid-work. Press Start Fusion to take the seat deliberately.";
  EXPECT_EQ(sink_.toasts().back(), text);
  EXPECT_EQ(bridge_.count("fusion_start"), 0);
  EXPECT_EQ(svc_.status.launch_failure_hints.get("Studio"), text);
  EXPECT_FALSE(svc_.status.launches_in_flight.contains("Studio"));
  EXPECT_FALSE(svc_.green_runs.registry.in_flight("Studio"));
}

TEST_F(AutoGreenTest, LaunchThatNeverTakesStoresTheHint) {
  box_.launch_takes = false;
  box_.aps_configured = false;
  green_run(svc_.green_runs, "Studio");
  const std::string why =
      "The launch attempt did not take (Autodesk seat busy elsewhere, or a licensing dialog). Press Start Fusion to "
      "try again.";
  EXPECT_EQ(svc_.status.launch_failure_hints.get("Studio"), why);
  EXPECT_EQ(clock_.elapsed(), 300);
  const auto toasts = sink_.toasts();
  EXPECT_NE(std::find(toasts.begin(), toasts.end(), why), toasts.end());
  EXPECT_EQ(
      toasts.back(),
      "Ready except: addinReady, aps, datahub, fusionRunning, mcp, signedIn (see each card for the exact next step)");
}

TEST_F(AutoGreenTest, SignInWallIsDrivenToThePasswordStep) {
  box_.needs_signin = true;
  box_.wall = true;
  green_run(svc_.green_runs, "Studio");
  const auto toasts = sink_.toasts();
  const auto said = [&toasts](const std::string& t) {
    return std::find(toasts.begin(), toasts.end(), t) != toasts.end();
  };
  EXPECT_TRUE(said("Fusion is up and waiting at the Autodesk sign-in"));
  EXPECT_TRUE(said("Driving the Autodesk sign-in - only your password is left to you"));
  EXPECT_TRUE(said("Fusion needs your Autodesk password - I drove the sign-in to that step for you"));
  // Nothing tells the user to press Start Fusion: the password is their only step.
  for (const std::string& t : toasts) EXPECT_EQ(t.find("Start Fusion"), std::string::npos) << t;
  EXPECT_EQ(svc_.status.launch_failure_hints.get("Studio"), std::nullopt);
  EXPECT_EQ(clock_.elapsed(), 10);  // the wall ended the wait on the first pass
}

TEST_F(AutoGreenTest, ApsNotConfiguredEndsWithTheSetupToast) {
  box_.running = box_.ready = box_.mcp = true;
  box_.aps_configured = false;
  green_run(svc_.green_runs, "Studio");
  const auto toasts = sink_.toasts();
  ASSERT_GE(toasts.size(), 2u);
  EXPECT_EQ(toasts[toasts.size() - 2],
            "APS cloud search needs a one-time setup (client id) - use Setup when you want it");
  EXPECT_EQ(toasts.back(), "Ready except: aps, datahub (see each card for the exact next step)");
}

// The finished runs keep the 256 boxes that ran most recently, each for 180 s.
TEST(GreenRunRegistry, KeepsThe256LatestRunsFor180Seconds) {
  GreenRunRegistry runs;
  FakeClock clock;
  for (int i = 0; i < 300; ++i) runs.finish("box" + std::to_string(i), clock.now());
  EXPECT_FALSE(runs.finished_at("box0"));
  EXPECT_TRUE(runs.finished_at("box299"));
  clock.advance(std::chrono::seconds(GreenRunRegistry::kRecentSeconds));
  runs.finish("later", clock.now());
  EXPECT_FALSE(runs.finished_at("box299"));
}

}  // namespace
}  // namespace loomdeck
