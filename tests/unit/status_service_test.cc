#include "bridge/status_service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "bridge/targets.h"
#include "fakes.h"
#include "services.h"

namespace loomdeck {
namespace {

class StatusServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bridge_.answer("fusion_readiness", json::parse(R"({"data":{"running":true,"ready":true,"bridgeVersion":"9.1"}})"));
  }
  FakeClock clock_;
  FakeRunner runner_;
  ScriptedBridge bridge_;
  RecordingSink sink_;
  Services svc_{clock_, bridge_, sink_, "Studio"};
};

TEST_F(StatusServiceTest, SevenProbesWithTheAttributionAndEmptyArgs) {
  json(live_status(svc_.status, "Studio"));
  auto calls = bridge_.calls();
  std::erase_if(calls, [](const BridgeCall& c) { return c.tool == "targets"; });
  ASSERT_EQ(calls.size(), 7u);
  std::set<std::string> tools;
  for (const BridgeCall& c : calls) {
    EXPECT_EQ(c.attribution, "t7");
    EXPECT_EQ(c.box, "Studio");
    EXPECT_EQ(c.args, "{}");
    tools.insert(c.tool);
  }
  EXPECT_EQ(tools, (std::set<std::string>{"fusion_readiness", "fusion_aps_status", "fusion_mcp_status",
                                          "fusion_set_auto_update", "fusion_set_seat_takeover",
                                          "fusion_set_driving_badge", "fusion_set_activity_indicator"}));
}

TEST_F(StatusServiceTest, LaunchWindowEndsAt240Seconds) {
  bridge_.answer("fusion_readiness", json::parse(R"({"running":false})"));
  svc_.status.launches_in_flight.set("Studio", clock_.now());
  clock_.advance(std::chrono::seconds(239));
  EXPECT_EQ(json(live_status(svc_.status, "Studio"))["leds"]["fusionRunning"]["state"], "starting");
  clock_.advance(std::chrono::seconds(1));
  EXPECT_EQ(json(live_status(svc_.status, "Studio"))["leds"]["fusionRunning"]["state"], "off");
  EXPECT_FALSE(svc_.status.launches_in_flight.contains("Studio"));
}

TEST_F(StatusServiceTest, FailureHintReplacesTheFusionHintOnlyWhenNotLaunching) {
  bridge_.answer("fusion_readiness", json::parse(R"({"running":false})"));
  svc_.status.launch_failure_hints.set("Studio", "Fusion is live on Bench right now");
  const json fusion = json(live_status(svc_.status, "Studio"))["leds"]["fusionRunning"];
  EXPECT_EQ(fusion["_hint"], "Fusion is live on Bench right now");
  EXPECT_EQ(fusion["notStarting"], "Fusion is live on Bench right now");
  // The server's own pushes (a run's refresh) carry it too.
  EXPECT_EQ(json(server_status(svc_.status, "Studio", false))["leds"]["fusionRunning"]["notStarting"],
            "Fusion is live on Bench right now");
  svc_.status.launches_in_flight.set("Studio", clock_.now());
  const json starting = json(live_status(svc_.status, "Studio"))["leds"]["fusionRunning"];
  EXPECT_EQ(starting["state"], "starting");
  EXPECT_FALSE(starting.contains("notStarting"));
}

TEST_F(StatusServiceTest, StalePatchesAt100And181Seconds) {
  const json good = json(live_status(svc_.status, "Studio"));
  bridge_.answer("fusion_readiness", json::parse(R"({"error":"timed out"})"));
  clock_.advance(std::chrono::seconds(100));
  json s = json(live_status(svc_.status, "Studio"));
  EXPECT_TRUE(s["answered"].get<bool>());  // the cached payload
  EXPECT_TRUE(s["stale"].get<bool>());
  EXPECT_EQ(s["lastVerifiedAgeSec"], 100);
  EXPECT_EQ(s["busyReason"], "timed out");
  EXPECT_EQ(s["_hint"],
            "Showing the state verified 100s ago: a fresh probe did not answer (the bridge is busy with a long verb). "
            "Nothing here is broken - it is simply not re-checkable this second.");
  EXPECT_EQ(s["leds"], good["leds"]);
  clock_.advance(std::chrono::seconds(81));
  s = json(live_status(svc_.status, "Studio"));
  EXPECT_FALSE(s["answered"].get<bool>());
  EXPECT_EQ(s["lastVerifiedAgeSec"], 181);
  EXPECT_EQ(s["_hint"],
            "The bridge has not answered a status probe for 181s, and the last verified state is too old to keep "
            "presenting as current. Press refresh, or read fusion_readiness directly - it often answers alone even "
            "when the six-verb status fan-out does not.");
  // Without a cache entry an unanswered payload goes out unchanged.
  EXPECT_FALSE(json(live_status(svc_.status, "Bench")).contains("stale"));
}

TEST_F(StatusServiceTest, EveryLiveStatusIsBroadcast) {
  // The observer (the logbook, in the server) hears of the status before the state goes out.
  svc_.observe = [this](const BoxStatus& built, Clock::WallTime) { sink_.broadcast("observed", built.target); };
  live_status(svc_.status, "Studio");
  const auto events = sink_.events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], (std::pair<std::string, json>{"observed", "Studio"}));
  EXPECT_EQ(events[1].first, "state");
  EXPECT_EQ(events[1].second.at("target"), "Studio");
}

TEST_F(StatusServiceTest, PollsOfABoxWhileItsBuildRunsShareThatBuild) {
  Gate gate;
  bridge_.on("fusion_readiness", [&](const std::string&, const std::string&) {
    gate.wait();
    return json::parse(R"({"running":true,"ready":true,"bridgeVersion":"9.1"})");
  });
  std::vector<json> replies(5);
  std::vector<std::thread> polls;
  polls.emplace_back([&] { replies[0] = json(live_status(svc_.status, "Studio")); });
  wait_until([&] { return bridge_.count("fusion_readiness") == 1; });
  for (int i = 1; i < 5; ++i) polls.emplace_back([&, i] { replies[i] = json(live_status(svc_.status, "Studio")); });
  wait_until([&] { return svc_.status.builds.waiting() == 4; });
  gate.open();
  for (std::thread& t : polls) t.join();
  EXPECT_EQ(bridge_.tool_calls(), 7u);
  EXPECT_TRUE(replies[0]["answered"].get<bool>());
  for (const json& r : replies) EXPECT_EQ(r, replies[0]);
}

TEST_F(StatusServiceTest, BeyondEightBuildsAPollWaitsForASlotThenAnswersFromTheCacheOrUnanswered) {
  Gate gate;
  bridge_.on("fusion_readiness", [&](const std::string& box, const std::string&) {
    if (box.rfind("Hung", 0) == 0) gate.wait();
    return json::parse(R"({"running":true,"ready":true,"bridgeVersion":"9.1"})");
  });
  const json verified = json(live_status(svc_.status, "Studio"));
  clock_.advance(std::chrono::seconds(100));
  std::vector<std::thread> hung;
  for (int i = 0; i < 8; ++i) hung.emplace_back([&, i] { json(live_status(svc_.status, "Hung" + std::to_string(i))); });
  wait_until([&] { return svc_.status.builds.running() == kMaxStatusBuilds; });

  const json cached = json(live_status(svc_.status, "Studio"));
  EXPECT_EQ(cached["lastVerifiedAgeSec"], 130);
  EXPECT_TRUE(cached["stale"].get<bool>());
  EXPECT_EQ(cached["leds"], verified["leds"]);
  EXPECT_EQ(cached["busyReason"], "the bridge did not answer (busy running a long verb?)");
  const json unanswered = json(live_status(svc_.status, "Bench"));
  EXPECT_FALSE(unanswered["answered"].get<bool>());
  EXPECT_EQ(unanswered["busyReason"], "the bridge did not answer (busy running a long verb?)");
  EXPECT_EQ(bridge_.tools("Studio").size(), 7u);
  EXPECT_TRUE(bridge_.tools("Bench").empty());

  gate.open();
  for (std::thread& t : hung) t.join();
}

TEST(PickBestBox, ScoresAndTies) {
  ScriptedBridge bridge;
  bridge.set_targets(std::nullopt);
  EXPECT_EQ(pick_best_box(bridge), "");
  bridge.set_targets(json::parse(R"({"targets":[{"id":1},{"name":"Solo"}]})"));
  EXPECT_EQ(pick_best_box(bridge), "Solo");
  EXPECT_EQ(bridge.count("fusion_readiness"), 0);

  bridge.set_targets(json::parse(R"({"targets":[{"name":"A"},{"name":"B"},{"name":"C"}]})"));
  bridge.on("fusion_readiness", [](const std::string& box, const std::string&) {
    return box == "A" ? json{{"running", false}} : json{{"data", {{"running", true}}}};
  });
  bridge.answer("fusion_aps_status", json{{"signedIn", true}});
  EXPECT_EQ(pick_best_box(bridge), "B");
  for (const BridgeCall& c : bridge.calls()) {
    if (c.tool != "targets") {
      EXPECT_EQ(c.attribution, "loomdeck");
    }
  }
  bridge.on("fusion_readiness", [](const std::string& box, const std::string&) {
    return box == "C" ? json{{"ready", true}} : json::object();
  });
  EXPECT_EQ(pick_best_box(bridge), "C");
  bridge.set_targets(json::parse(R"({"targets":"nope"})"));
  EXPECT_EQ(pick_best_box(bridge), "");
}

// A made-up name gets its answer and leaves nothing behind: no cached status, no logbook entry, no
// launch hint; a box the bridge knows does. A permissive bridge answers for any name, so its box
// listing decides, taken once a minute however many names arrive.
TEST_F(StatusServiceTest, OnlyBoxesTheBridgeKnowsLeaveState) {
  std::vector<std::string> observed;  // what the logbook would record
  svc_.observe = [&observed](const BoxStatus& built, Clock::WallTime) { observed.push_back(built.target); };
  bridge_.on("fusion_readiness", [](const std::string& box, const std::string&) {
    return box == "Nope" ? json{{"error", "unknown target 'Nope'"}} : json{{"running", true}, {"ready", true}};
  });
  EXPECT_EQ(json(live_status(svc_.status, "Nope"))["busyReason"], "unknown target 'Nope'");
  EXPECT_FALSE(svc_.status.cache.contains("Nope"));
  EXPECT_TRUE(observed.empty());

  bridge_.set_targets(json::parse(R"({"targets":[{"name":"Studio"},{"name":"Bench"}]})"));
  for (int i = 0; i < 50; ++i) json(live_status(svc_.status, "made-up-" + std::to_string(i)));
  json(live_status(svc_.status, "studio"));
  EXPECT_EQ(svc_.status.cache.size(), 1u);
  EXPECT_TRUE(svc_.status.cache.contains("studio"));
  EXPECT_EQ(observed, std::vector<std::string>{"studio"});
  const int listings = bridge_.count("targets");
  clock_.advance(KnownBoxes::kListingAge);
  json(live_status(svc_.status, "made-up-51"));
  EXPECT_EQ(bridge_.count("targets"), listings + 1);
}

// Every per-box map keeps the 256 boxes used most recently; reading a box counts as using it.
TEST(PerBoxMaps, KeepThe256MostRecentlyUsed) {
  GuardedMap<int> map;
  for (int i = 0; i < 256; ++i) map.set("box" + std::to_string(i), i);
  EXPECT_EQ(map.get("box0"), 0);
  map.set("box256", 256);
  EXPECT_EQ(map.size(), 256u);
  EXPECT_TRUE(map.contains("box0"));
  EXPECT_FALSE(map.contains("box1"));
  EXPECT_FALSE(map.insert("box0", 7));
}

}  // namespace
}  // namespace loomdeck
