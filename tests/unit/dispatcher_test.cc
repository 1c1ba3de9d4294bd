#include "actions/dispatcher.h"

#include <gtest/gtest.h>

#include "action_services.h"
#include "fakes.h"

namespace loomdeck {
namespace {

class DispatcherTest : public ::testing::Test {
 protected:
  json act(const std::string& action, const std::string& args = "null") {
    return run_action(svc_.actions, ActionRequest{action, "Studio", args});
  }
  FakeClock clock_;
  FakeRunner runner_;
  ScriptedBridge bridge_;
  RecordingSink sink_;
  ActionServices svc_{clock_, bridge_, sink_};
};

TEST_F(DispatcherTest, VerbsMapToToolsWithTheirArgumentTexts) {
  bridge_.answer("fusion_start", json::parse(R"({"data":{"launched":true}})"));
  EXPECT_EQ(act("start", "{\"x\":1}"), json::parse(R"({"data":{"launched":true}})"));  // not unwrapped
  act("set_driving_badge", "{\"enabled\":false}");
  act("signin");
  act("tour_progress");
  act("mcp_enable", "{\"ignored\":1}");
  const auto calls = bridge_.calls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].args, "{}");
  EXPECT_EQ(calls[1].tool, "fusion_set_driving_badge");
  EXPECT_EQ(calls[1].args, "{\"enabled\":false}");
  EXPECT_EQ(calls[2].tool, "fusion_signin");
  EXPECT_EQ(calls[2].args, "null");
  EXPECT_EQ(calls[3].tool, "fusion_demo_progress");
  EXPECT_EQ(calls[4].args, "{}");
  for (const BridgeCall& c : calls) {
    EXPECT_EQ(c.attribution, "t7");
  }
}

TEST_F(DispatcherTest, UnknownVerbsAreNamed) {
  EXPECT_EQ(dump_compact(act("Start")),
            "{\"_hint\":\"Actions: start, stop, signin, tour, tour_progress, set_auto_update, set_seat_takeover, "
            "mcp_enable, aps_signin, import_basic_part.\",\"error\":\"unknown action Start\"}");
  EXPECT_EQ(act("")["error"], "unknown action ");
  EXPECT_TRUE(bridge_.calls().empty());
}

TEST_F(DispatcherTest, StopEscalatesOnlyForGeneratedTestDocuments) {
  bridge_.answer("fusion_stop",
                 json::parse(R"({"data":{"success":false,"error":"2 documents open","bridgeDocsOnly":false}})"));
  EXPECT_EQ(act("stop"), json::parse(R"({"success":false,"error":"2 documents open","bridgeDocsOnly":false})"));
  EXPECT_EQ(bridge_.count("fusion_kill"), 0);
  EXPECT_EQ(bridge_.calls()[0].args, "{\"reason\":\"dashboard: user clicked Close Fusion\"}");

  bridge_.answer("fusion_stop", json::parse(R"({"success":false,"error":"test docs open","bridgeDocsOnly":true})"));
  bridge_.answer("fusion_kill", json::object());
  bridge_.answer("fusion_readiness", json::parse(R"({"data":{"running":false}})"));
  const json r = act("stop");
  EXPECT_EQ(dump_compact(r),
            "{\"_hint\":\"The graceful close was blocked only by the bridge's own generated test documents, so it was "
            "force-closed for you - nothing of yours was at risk.\",\"escalated\":true,\"gracefulError\":\"test docs "
            "open\",\"success\":true}");
  EXPECT_EQ(clock_.elapsed(), 4);
  // A readiness answer without a boolean `running` does not confirm the close.
  bridge_.answer("fusion_readiness", json::parse(R"({"error":"busy"})"));
  EXPECT_FALSE(act("stop")["success"].get<bool>());
}

TEST_F(DispatcherTest, TourRunsReadyFirstThenTheFixedArguments) {
  bridge_.answer("fusion_readiness", json::parse(R"({"ready":true})"));
  bridge_.answer("fusion_demo", json::parse(R"({"data":{"demoId":"d1"}})"));
  EXPECT_EQ(act("tour", "{\"mode\":\"other\"}"), json::parse(R"({"data":{"demoId":"d1"}})"));
  EXPECT_EQ(bridge_.calls().back().args, "{\"mode\":\"tour\",\"preset\":\"electronics\",\"remote\":true}");
}

TEST_F(DispatcherTest, TourNotReadyInTimeAnswersTheBudgetFailure) {
  bridge_.answer("fusion_readiness", json::parse(R"({"running":false})"));
  bridge_.answer("fusion_state", json::object());
  svc_.run_in_background = [](std::function<void()>) {};
  EXPECT_EQ(dump_compact(act("tour")),
            "{\"_hint\":\"Open Settings and read the status cards - a sign-in wall or a stuck launch is reported "
            "there.\",\"error\":\"Fusion did not become ready on Studio within its measured launch "
            "budget\",\"success\":false}");
  EXPECT_EQ(bridge_.count("fusion_demo"), 0);
}

}  // namespace
}  // namespace loomdeck
