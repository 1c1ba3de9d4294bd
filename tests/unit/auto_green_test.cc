#include "actions/auto_green.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "fakes.h"
#include "server/server_state.h"

namespace loomdeck {
namespace {

using std::chrono::seconds;

// A scripted box for the run: each facet is a flag the fake tools flip.
struct GreenBox {
  FakeClock& clock;
  bool running = false, ready = false, needs_signin = false, wall = false;
  bool mcp = false, aps_configured = true, aps_signed_in = false;
  bool launch_takes = true;

  void install(ScriptedBridge& bridge, const std::string& name) {
    bridge.on("fusion_readiness", [this, name](const std::string& box, const std::string&) {
      if (box != name) return json{{"running", false}};
      return json{{"running", running}, {"ready", ready}, {"needsSignin", needs_signin}, {"bridgeVersion", "9"}};
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
      if (launch_takes) running = true;
      if (launch_takes && !needs_signin) ready = true;
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
    home_ = std::filesystem::temp_directory_path() / ("loomdeck-green-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home_);
    ::setenv("HOME", home_.c_str(), 1);
    box_.install(bridge_, "Studio");
    bridge_.set_targets(json::parse(R"({"targets":[{"name":"studio"},{"name":""},{"name":"Bench"}]})"));
    state_->run_in_background = [this](std::function<void()> work) { held_.push_back(std::move(work)); };
  }
  void TearDown() override { std::filesystem::remove_all(home_); }
  std::vector<std::string> log_tail() {
    std::vector<std::string> out;
    for (const std::string& l : state_->log.lines()) {
      if (l.rfind("auto-green: ", 0) == 0) out.push_back(l.substr(12));
    }
    return out;
  }

  std::filesystem::path home_;
  FakeClock clock_;
  FakeRunner runner_;
  ScriptedBridge bridge_;
  RecordingSink sink_;
  GreenBox box_{clock_};
  std::shared_ptr<ServerState> state_ = std::make_shared<ServerState>("t7", "", clock_, runner_, bridge_, &sink_);
  std::vector<std::function<void()>> held_;
};

TEST_F(AutoGreenTest, JoinedWhileInFlightAndWithin180SecondsUnlessForced) {
  EXPECT_TRUE(start_green_run(*state_, "Studio", false));
  EXPECT_TRUE(state_->launches_in_flight.contains("Studio"));
  EXPECT_FALSE(start_green_run(*state_, "Studio", false));
  EXPECT_FALSE(start_green_run(*state_, "Studio", true));  // forcing never stacks a second run
  ASSERT_EQ(held_.size(), 1u);
  held_[0]();
  EXPECT_FALSE(state_->green_runs.in_flight("Studio"));
  clock_.advance(seconds(179));
  EXPECT_FALSE(start_green_run(*state_, "Studio", false));
  clock_.advance(seconds(1));
  EXPECT_TRUE(start_green_run(*state_, "Studio", false));
  EXPECT_FALSE(start_green_run(*state_, "Bench", false) == false);
}

TEST_F(AutoGreenTest, FreshBoxIsDrivenAllGreenInOrder) {
  green_run(*state_, "Studio");
  EXPECT_EQ(log_tail(), (std::vector<std::string>{
                            "Getting Studio ready - launching Fusion and its services in the background",
                            "Fusion is up and the bridge add-in is serving",
                            "Turning on the Fusion MCP server",
                            "Fusion MCP server enabled",
                            "Signing in to APS cloud search",
                            "APS cloud search is live",
                            "All green - ready to go",
                        }));
  EXPECT_EQ(sink_.toasts(), log_tail());
  EXPECT_FALSE(state_->launches_in_flight.contains("Studio"));
  EXPECT_FALSE(state_->green_runs.in_flight("Studio"));
  // The seat check asked the other named box, not this one (case-insensitive) nor the empty name.
  int probes_of_bench = 0;
  for (const BridgeCall& c : bridge_.calls()) {
    if (c.tool == "targets") continue;
    EXPECT_NE(c.box, "studio");
    EXPECT_NE(c.box, "");
    probes_of_bench += c.box == "Bench";
  }
  EXPECT_EQ(probes_of_bench, 1);
  // A state push marked "starting" went out before the launch.
  bool starting = false;
  for (const auto& [name, value] : sink_.events()) {
    if (name == "state" && value["leds"]["fusionRunning"]["state"] == "starting") starting = true;
  }
  EXPECT_TRUE(starting);
}

TEST_F(AutoGreenTest, AlreadyGreenMakesNoCalls) {
  box_.running = box_.ready = box_.mcp = box_.aps_signed_in = true;
  green_run(*state_, "Studio");
  EXPECT_EQ(sink_.toasts(), (std::vector<std::string>{"Everything is already green on this box", "All green - ready to go"}));
  for (const char* t : {"fusion_start", "fusion_signin", "fusion_mcp_enable", "fusion_aps_signin"}) {
    EXPECT_EQ(bridge_.count(t), 0) << t;
  }
}

TEST_F(AutoGreenTest, SeatElsewhereNeverLaunchesAndShowsTheSeatText) {
  bridge_.on("fusion_readiness", [](const std::string& box, const std::string&) {
    return json{{"running", box == "Bench"}, {"bridgeVersion", "9"}};
  });
  ASSERT_TRUE(start_green_run(*state_, "Studio", false));
  held_[0]();
  const std::string text =
      "Fusion is live on Bench right now - starting it here would take the one Autodesk seat and suspend that box "
      "mid-work. Press Start Fusion to take the seat deliberately.";
  EXPECT_EQ(sink_.toasts().back(), text);
  EXPECT_EQ(bridge_.count("fusion_start"), 0);
  EXPECT_EQ(state_->launch_failure_hints.get("Studio"), text);
  EXPECT_FALSE(state_->launches_in_flight.contains("Studio"));
  EXPECT_FALSE(state_->green_runs.in_flight("Studio"));
}

TEST_F(AutoGreenTest, LaunchThatNeverTakesStoresTheHint) {
  box_.launch_takes = false;
  box_.aps_configured = false;
  green_run(*state_, "Studio");
  const std::string why = "The launch attempt did not take (Autodesk seat busy elsewhere, or a licensing dialog). Press Start Fusion to try again.";
  EXPECT_EQ(state_->launch_failure_hints.get("Studio"), why);
  EXPECT_EQ(clock_.elapsed(), 300);
  const auto toasts = sink_.toasts();
  EXPECT_NE(std::find(toasts.begin(), toasts.end(), why), toasts.end());
  EXPECT_EQ(toasts.back(), "Ready except: addinReady, aps, datahub, fusionRunning, mcp, signedIn (see each card for the exact next step)");
}

TEST_F(AutoGreenTest, SignInWallIsDrivenToThePasswordStep) {
  box_.needs_signin = true;
  box_.wall = true;
  green_run(*state_, "Studio");
  const auto toasts = sink_.toasts();
  EXPECT_NE(std::find(toasts.begin(), toasts.end(), "Fusion needs your Autodesk password - I drove the sign-in to that step for you"), toasts.end());
  EXPECT_EQ(state_->launch_failure_hints.get("Studio"),
            "Fusion launched but its bridge add-in never came up - press Start Fusion to retry, or check for a sign-in wall.");
  EXPECT_EQ(clock_.elapsed(), 10);  // the wall ended the wait on the first pass
}

TEST_F(AutoGreenTest, ApsNotConfiguredEndsWithTheSetupToast) {
  box_.running = box_.ready = box_.mcp = true;
  box_.aps_configured = false;
  green_run(*state_, "Studio");
  const auto toasts = sink_.toasts();
  ASSERT_GE(toasts.size(), 2u);
  EXPECT_EQ(toasts[toasts.size() - 2], "APS cloud search needs a one-time setup (client id) - use Setup when you want it");
  EXPECT_EQ(toasts.back(), "Ready except: aps, datahub (see each card for the exact next step)");
}

}  // namespace
}  // namespace loomdeck
