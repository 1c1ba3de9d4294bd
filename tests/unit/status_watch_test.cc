#include "bridge/status_watch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "fakes.h"
#include "services.h"

namespace loomdeck {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(StatusWatchRules, DueBoxesAndThePauseUntilTheNext) {
  const Clock::Instant now = Clock::Instant{} + std::chrono::hours(1);
  struct Row {
    const char* what;
    WatchedBox box;
    bool due;
    milliseconds pause;  // with a longest pause of 1 s
  };
  const Row rows[] = {
      {"built 15 s ago", {1, now - seconds(15), false}, true, milliseconds(0)},
      {"built 14.5 s ago", {2, now - milliseconds(14500), false}, false, milliseconds(500)},
      {"built 5 s ago", {1, now - seconds(5), false}, false, milliseconds(1000)},
      {"a refresh of its own under way", {1, now - seconds(60), true}, false, milliseconds(1000)},
      {"no stream left", {0, now - seconds(60), false}, false, milliseconds(1000)},
  };
  for (const Row& row : rows) {
    const WatchedBoxes boxes{{"Studio", row.box}};
    EXPECT_EQ(due_boxes(boxes, now), row.due ? std::vector<std::string>{"Studio"} : std::vector<std::string>{})
        << row.what;
    EXPECT_EQ(until_next_due(boxes, now, milliseconds(1000)), row.pause) << row.what;
  }
}

TEST(StatusWatchRules, WatchesAtMostItsBoundOfBoxes) {
  FakeClock clock;
  StatusWatch watch(clock, 2);
  std::optional<StatusWatch::Hold> a = watch.show("A");
  const StatusWatch::Hold b = watch.show("B");
  EXPECT_TRUE(watch.show("B").watching());
  EXPECT_FALSE(watch.show("C").watching());
  a.reset();
  EXPECT_TRUE(watch.show("C").watching());
}

class StatusWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    svc_.run_in_background = [](std::function<void()> work) { work(); };
    // As in the server: every status built counts for the watch.
    svc_.observe = [this](const BoxStatus& built, Clock::WallTime) { watch_.built(built.target); };
    bridge_.answer("fusion_readiness", json::parse(R"({"running":true,"ready":true,"bridgeVersion":"9.1"})"));
  }
  // Runs the watch's ticks until `span` has passed on the clock (a tick due at its end included).
  void run_for(milliseconds span) {
    const Clock::Instant end = clock_.now() + span;
    while (clock_.now() <= end) status_watch_tick(watch_, svc_.status);
  }
  int builds(const std::string& box) {
    int n = 0;
    for (const std::string& tool : bridge_.tools(box)) n += tool == "fusion_readiness";
    return n;
  }
  int states() {
    int n = 0;
    for (const auto& [name, value] : sink_.events()) n += name == "state";
    return n;
  }

  FakeClock clock_;
  FakeRunner runner_;
  ScriptedBridge bridge_;
  RecordingSink sink_;
  Services svc_{clock_, bridge_, sink_, "Studio"};
  StatusWatch watch_{clock_};
};

TEST_F(StatusWatchTest, OneBuildPerShownBoxPerPeriodWhateverTheStreamsAndNoneForBoxesNobodyShows) {
  run_for(seconds(60));
  EXPECT_TRUE(bridge_.calls().empty());

  StatusWatch& watch = watch_;
  std::vector<StatusWatch::Hold> studio;
  for (int i = 0; i < 3; ++i) studio.push_back(watch.show("Studio"));
  std::optional<StatusWatch::Hold> bench = watch.show("Bench");
  run_for(seconds(60));
  EXPECT_EQ(builds("Studio"), 4);
  EXPECT_EQ(builds("Bench"), 4);
  EXPECT_EQ(states(), 8);

  bench.reset();
  studio.pop_back();
  studio.pop_back();
  run_for(seconds(60));
  EXPECT_EQ(builds("Studio"), 8);
  EXPECT_EQ(builds("Bench"), 4);

  studio.clear();
  run_for(seconds(60));
  EXPECT_EQ(bridge_.tool_calls(), 12u * 7);
}

TEST_F(StatusWatchTest, AnotherBuildOfTheBoxDefersTheRefreshAndARunningOneIsJoined) {
  const StatusWatch::Hold hold = watch_.show("Studio");
  clock_.advance(seconds(10));
  json(live_status(svc_.status, "Studio"));  // a page's or an agent's read
  run_for(milliseconds(14900));
  EXPECT_EQ(builds("Studio"), 1);
  run_for(milliseconds(100));
  EXPECT_EQ(builds("Studio"), 2);

  // A read whose build is still running when the watch's next refresh falls due.
  clock_.advance(seconds(15));
  Gate gate;
  bridge_.on("fusion_readiness", [&](const std::string&, const std::string&) {
    gate.wait();
    return json::parse(R"({"running":true,"ready":true,"bridgeVersion":"9.1"})");
  });
  std::thread read([&] { json(live_status(svc_.status, "Studio")); });
  wait_until([&] { return builds("Studio") == 3; });
  std::thread tick([&] { status_watch_tick(watch_, svc_.status); });
  wait_until([&] { return svc_.status.builds.waiting() == 1; });
  gate.open();
  read.join();
  tick.join();
  EXPECT_EQ(builds("Studio"), 3);
  EXPECT_EQ(states(), 4);
}

}  // namespace
}  // namespace loomdeck
