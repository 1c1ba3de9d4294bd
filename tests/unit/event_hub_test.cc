#include "http/event_hub.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace loomdeck {
namespace {

using std::chrono::milliseconds;

// What one take hands over, as text.
std::vector<std::string> texts(const std::vector<Frame>& frames) {
  std::vector<std::string> out;
  for (const Frame& frame : frames) out.push_back(*frame);
  return out;
}

TEST(EventHub, AStalledStreamIsDroppedOnceItsBacklogIsFullInFrames) {
  EventHub hub(3, 1 << 20);
  auto stalled = hub.subscribe();
  for (int i = 0; i < 3; ++i) hub.broadcast("toast", json{{"i", i}});
  EXPECT_EQ(hub.viewer_count(), 0);  // the ping was the fourth frame
  EXPECT_TRUE(stalled->overflowed());
  std::vector<Frame> frames;
  EXPECT_EQ(stalled->take(frames, milliseconds(0)), ViewerQueue::Take::kClosed);
}

TEST(EventHub, AStalledStreamIsDroppedOnceItsBacklogIsFullInBytes) {
  EventHub hub(1000, 4096);
  auto stalled = hub.subscribe();
  auto reader = hub.subscribe();
  const json big = {{"message", std::string(3000, 'm')}};
  hub.broadcast("toast", big);
  std::vector<Frame> frames;
  ASSERT_EQ(reader->take(frames, milliseconds(0)), ViewerQueue::Take::kFrames);
  EXPECT_EQ(texts(frames), std::vector<std::string>{event_frame("toast", big)});
  // The reader took its frame and has room; the stalled one would hold 6000 bytes.
  hub.broadcast("toast", big);
  EXPECT_TRUE(stalled->overflowed());
  EXPECT_FALSE(reader->overflowed());
  EXPECT_EQ(hub.viewer_count(), 1);
}

TEST(EventHub, EndedStreamsArePrunedAndFramesKeepTheirOrder) {
  EventHub hub;
  auto gone = hub.subscribe();
  auto live = hub.subscribe();
  gone->close();
  hub.broadcast("click", json{{"target", "start"}});
  hub.broadcast("toast", json{{"kind", "ok"}, {"message", "a\nb"}});
  EXPECT_EQ(hub.viewer_count(), 1);
  EXPECT_EQ(hub.broadcast_and_count("toast", json{{"message", "c"}}), 1);
  // One take hands over everything queued since the last one, in order.
  std::vector<Frame> frames;
  ASSERT_EQ(live->take(frames, milliseconds(0)), ViewerQueue::Take::kFrames);
  EXPECT_EQ(texts(frames), (std::vector<std::string>{
                               "event: click\ndata: {\"target\":\"start\"}\n\n",
                               "event: toast\ndata: {\"kind\":\"ok\",\"message\":\"a\\nb\"}\n\n",
                               std::string(kPingFrame),
                               "event: toast\ndata: {\"message\":\"c\"}\n\n",
                               std::string(kPingFrame),
                           }));
  EXPECT_EQ(live->take(frames, milliseconds(0)), ViewerQueue::Take::kTimeout);
  EXPECT_TRUE(frames.empty());
}

// Broadcasters, counters, subscribers and readers all at once, as the connection threads and
// the background runs use the hub; run under the thread sanitizer by the test command.
TEST(EventHub, ConcurrentBroadcastsReachEveryReaderInOrder) {
  EventHub hub;
  constexpr int kReaders = 4;
  constexpr int kFrames = 200;
  std::vector<std::shared_ptr<ViewerQueue>> queues;
  for (int r = 0; r < kReaders; ++r) queues.push_back(hub.subscribe());
  std::vector<std::vector<int>> seen(kReaders);
  std::vector<std::thread> threads;
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&, r] {
      std::vector<Frame> frames;
      while (static_cast<int>(seen[r].size()) < kFrames) {
        const ViewerQueue::Take got = queues[r]->take(frames, milliseconds(1000));
        if (got == ViewerQueue::Take::kClosed) {
          ADD_FAILURE() << "reader " << r << " was dropped";
          return;
        }
        for (const Frame& frame : frames) {
          if (frame->rfind("event: toast\ndata: ", 0) != 0) continue;
          seen[r].push_back(json::parse(frame->substr(19))["i"].get<int>());
        }
      }
    });
  }
  // Each count also queues a ping for every reader; 100 of them stay well inside the backlog.
  std::thread churn([&] {
    for (int i = 0; i < 100; ++i) {
      auto q = hub.subscribe();
      q->close();
      hub.viewer_count();
    }
  });
  std::thread broadcaster([&] {
    for (int i = 0; i < kFrames; ++i) hub.broadcast("toast", json{{"i", i}});
  });
  broadcaster.join();
  churn.join();
  for (std::thread& t : threads) t.join();
  for (const auto& s : seen) {
    ASSERT_EQ(s.size(), static_cast<std::size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) EXPECT_EQ(s[i], i);
  }
}

}  // namespace
}  // namespace loomdeck
