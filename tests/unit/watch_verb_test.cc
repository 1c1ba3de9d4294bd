#include "main/watch_verb.h"

#include <gtest/gtest.h>

#include "fakes.h"

namespace loomdeck {
namespace {

using Names = std::vector<std::string>;

TEST(Watch, EventFilterNamesKnownEventsOnly) {
  EXPECT_EQ(std::get<Names>(event_filter(std::nullopt)), Names{});
  EXPECT_EQ(std::get<Names>(event_filter("state, toast,,logbook")), (Names{"state", "toast", "logbook"}));
  EXPECT_EQ(std::get<std::string>(event_filter("state,State")), "unknown event State");
  EXPECT_EQ(std::get<std::string>(event_filter(" , ")), "--events names no event");
}

TEST(Watch, OneSortedLinePerWantedEvent) {
  EXPECT_EQ(watch_line({"state", R"({"target":"Studio","answered":true})"}, {}),
            R"({"data":{"answered":true,"target":"Studio"},"event":"state"})");
  EXPECT_EQ(watch_line({"toast", "not json"}, {"toast"}), R"({"data":"not json","event":"toast"})");
  EXPECT_EQ(watch_line({"hello", "{}"}, {"state", "toast"}), std::nullopt);
}

TEST(Watch, BackOffDoublesFromAQuarterSecondUpToFive) {
  const std::pair<int, long> cases[] = {{0, 250}, {1, 500}, {2, 1000}, {3, 2000}, {4, 4000}, {5, 5000}, {99, 5000}};
  for (const auto& [failures, ms] : cases) EXPECT_EQ(reconnect_delay(failures).count(), ms) << failures;
}

TEST(Watch, TheBoxTravelsEscapedInTheStreamUrl) {
  EXPECT_EQ(events_command(8931, std::nullopt),
            (std::vector<std::string>{"curl", "-s", "-N", "-m", "3600", "http://127.0.0.1:8931/events"}));
  EXPECT_EQ(events_command(8930, "My Box&x=[1]").back(), "http://127.0.0.1:8930/events?target=My%20Box%26x%3D%5B1%5D");
}

// Keeps the lines; the reader goes away once it has `wanted` of them.
class Lines : public WatchOutput {
 public:
  explicit Lines(std::size_t wanted) : wanted_(wanted) {}
  bool write_line(std::string_view line) override {
    lines.emplace_back(line);
    return true;
  }
  bool reader_present() override { return lines.size() < wanted_; }
  std::vector<std::string> lines;

 private:
  std::size_t wanted_;
};

const std::string kPing = R"({"app":"loomdeck","dashboardVersion":"1.10.20"})";
const std::string kHello = ": " + std::string(2048, 'p') + "\n\nevent: hello\ndata: {\"version\":\"1.10.20\"}\n\n";

// What the server on 8930 does at each look for it: serve one stream, or (empty) not be there.
void serve_streams(FakeRunner& runner, std::vector<std::string> streams) {
  auto next = std::make_shared<std::size_t>(0);
  runner.on("curl", [streams, next](const std::vector<std::string>& argv, const ProcessOptions& options) {
    if (argv.back() == "http://127.0.0.1:8930/api/ping") {
      if (!streams.at(*next).empty()) return exited(0, kPing);
      ++*next;
      return exited(7);
    }
    if (argv.back().find("/events") == std::string::npos) return exited(7);
    const std::string& stream = streams.at((*next)++);
    ProcessResult r = exited(0);
    r.cut_short = !options.on_stdout(stream);
    return r;
  });
}

TEST(Watch, FollowsTheStreamAndFindsTheServerAgainAfterItGoes) {
  FakeClock clock;
  FakeRunner runner;
  serve_streams(runner, {kHello + "event: state\ndata: {\"a\":1}\n\n: ping\n\nevent: toast\ndata: {}\n\n", "", "",
                         kHello + "event: state\ndata: {\"a\":2}\n\n"});
  Lines out(5);
  EXPECT_EQ(follow_events({std::nullopt, "Studio", {"hello", "state"}}, clock, runner, out), 0);
  EXPECT_EQ(out.lines, (std::vector<std::string>{R"({"data":{"version":"1.10.20"},"event":"hello"})",
                                                 R"({"data":{"a":1},"event":"state"})", R"({"event":"reconnected"})",
                                                 R"({"data":{"version":"1.10.20"},"event":"hello"})",
                                                 R"({"data":{"a":2},"event":"state"})"}));
  EXPECT_EQ(runner.calls.back().back(), "http://127.0.0.1:8930/events?target=Studio");
  // Two looks found nothing: a quarter second, then half a second.
  EXPECT_DOUBLE_EQ(clock.elapsed(), 0.75);
}

TEST(Watch, NoServerAtTheStartIsAnError) {
  FakeClock clock;
  FakeRunner runner;
  serve_streams(runner, {""});
  Lines out(100);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(follow_events({8935, std::nullopt, {}}, clock, runner, out), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "ERROR: no loomdeck server answering on port 8935\nHint: Start it first: `loomdeck serve --print-url` (a "
            "server of another version is not followed).\n");
  EXPECT_EQ(runner.calls,
            (std::vector<std::vector<std::string>>{{"curl", "-s", "-m", "1", "http://127.0.0.1:8935/api/ping"}}));
  EXPECT_TRUE(out.lines.empty());
}

}  // namespace
}  // namespace loomdeck
