#include "bridge/readiness.h"

#include <gtest/gtest.h>

#include "fakes.h"

namespace loomdeck {
namespace {

TEST(ReadReadiness, WrappedAndFlatAndErrors) {
  ScriptedBridge bridge;
  const BridgeClient client{bridge, "loomdeck"};
  bridge.answer("fusion_readiness", json::parse(R"({"data":{"ready":true,"running":true}})"));
  EXPECT_TRUE(read_readiness(client, "Studio").ready);
  bridge.answer("fusion_readiness", json::parse(R"({"ready":"yes","fusionRunning":false,"running":true})"));
  const Readiness flat = read_readiness(client, "Studio");
  EXPECT_FALSE(flat.ready);
  EXPECT_FALSE(flat.running);  // `fusionRunning` decides when given
  EXPECT_FALSE(flat.stopped);  // only `running: false` says outright that Fusion is down
  bridge.answer("fusion_readiness", json::parse(R"({"error":"busy"})"));
  const Readiness failed = read_readiness(client, "Studio");
  EXPECT_FALSE(failed.ready || failed.running || failed.stopped);
}

TEST(WaitUntilSettled, WaitsWhileTheMainThreadIsBusyEvenWhenFalse) {
  FakeClock clock;
  ScriptedBridge bridge;
  int calls = 0;
  bridge.on("fusion_state", [&](const std::string&, const std::string& args) {
    EXPECT_EQ(args, "{\"screenshot\":false}");
    ++calls;
    return calls < 3 ? json::parse(R"({"addinResponding":true,"mainThreadBusy":false})")
                     : json::parse(R"({"addinResponding":true})");
  });
  wait_until_settled(BridgeClient{bridge, "loomdeck"}, clock, "Studio", 120);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(clock.elapsed(), 30);
}

TEST(WaitUntilSettled, RunsToItsLimitAndZeroReturnsAtOnce) {
  FakeClock clock;
  ScriptedBridge bridge;
  bridge.answer("fusion_state", json::parse(R"({"error":"busy"})"));
  wait_until_settled(BridgeClient{bridge, "loomdeck"}, clock, "Studio", 45);
  EXPECT_EQ(bridge.count("fusion_state"), 5);
  EXPECT_EQ(clock.elapsed(), 50);
  wait_until_settled(BridgeClient{bridge, "loomdeck"}, clock, "Studio", 0);
  EXPECT_EQ(bridge.count("fusion_state"), 5);
}

TEST(IsBridgeTestDocument, CaseInsensitiveInEitherField) {
  ScriptedBridge bridge;
  bridge.answer("fusion_state", json::parse(R"({"data":{"title":"Board OVRA-TEST 3"}})"));
  EXPECT_TRUE(is_bridge_test_document(BridgeClient{bridge, "loomdeck"}, "Studio"));
  bridge.answer("fusion_state", json::parse(R"({"activeDocument":"my board","title":7})"));
  EXPECT_FALSE(is_bridge_test_document(BridgeClient{bridge, "loomdeck"}, "Studio"));
}

TEST(ColdLaunchSeconds, P90ThenP50) {
  EXPECT_EQ(cold_launch_seconds(json::parse(R"({"timings":{"launch":{"cold":{"p50":42}}}})")), 42.0);
  EXPECT_EQ(cold_launch_seconds(json::parse(R"({"timings":{"launch":{"cold":{"p90":0,"p50":42}}}})")), 0.0);
  EXPECT_EQ(cold_launch_seconds(json::parse(R"({"timings":{"launch":{"cold":{"p90":"60"}}}})")), std::nullopt);
  EXPECT_EQ(cold_launch_seconds(json::parse(R"({"timings":5})")), std::nullopt);
}

}  // namespace
}  // namespace loomdeck
