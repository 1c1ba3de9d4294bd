#include "http/event_stream.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/version.h"

namespace loomdeck {
namespace {

// Records each write call as one piece; once told to, fails the next write, which ends the stream.
class RecordingStream : public Stream {
 public:
  std::vector<std::string> wait_for_writes(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    wrote_.wait(lock, [&] { return writes_.size() >= count; });
    return writes_;
  }
  void fail_from_now() {
    std::lock_guard<std::mutex> lock(mutex_);
    failing_ = true;
  }

 protected:
  bool write_all(std::span<const std::string_view> parts) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failing_) return false;
    std::string piece;
    for (const std::string_view part : parts) piece += part;
    writes_.push_back(piece);
    wrote_.notify_all();
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable wrote_;
  std::vector<std::string> writes_;
  bool failing_ = false;
};

// Frames queued together leave in one write, byte for byte as they were broadcast.
TEST(EventStream, WritesEverythingQueuedAtAWakeUpInOneCall) {
  EventHub hub;
  ServerLog log;
  RecordingStream stream;
  std::thread server([&] { serve_event_stream(hub, log, stream, std::chrono::hours(1)); });
  // Until the stream subscribes nobody counts; from then on its queue gets both frames at once.
  while (hub.broadcast_and_count("toast", json{{"message", "hi"}}) == 0) std::this_thread::yield();
  const std::vector<std::string> writes = stream.wait_for_writes(2);
  stream.fail_from_now();
  hub.broadcast("toast", json{{"message", "bye"}});
  server.join();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0], std::string(kEventStreamHead) + ": " + std::string(2048, 'p') + "\n\n" +
                           event_frame("hello", json{{"version", LOOMDECK_VERSION}}));
  EXPECT_EQ(writes[1], event_frame("toast", json{{"message", "hi"}}) + std::string(kPingFrame));
}

}  // namespace
}  // namespace loomdeck
