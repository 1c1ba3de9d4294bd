#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/event_sink.h"

namespace loomdeck {

// "event: {name}\ndata: {compact json}\n\n"
std::string event_frame(std::string_view name, const json& value);

inline constexpr std::string_view kPingFrame = ": ping\n\n";

// One frame as every queue holds it: built once, shared by all the streams it goes to.
using Frame = std::shared_ptr<const std::string>;

// The frames waiting for one open event stream. The hub offers, the stream's own thread takes.
class ViewerQueue {
 public:
  ViewerQueue(std::size_t max_frames, std::size_t max_bytes) : max_frames_(max_frames), max_bytes_(max_bytes) {}

  // Queues the frames in order. False when the stream has ended, or when it has stopped reading
  // and its backlog is full, in frames or in bytes (it is then cut off like a disconnected one,
  // so a stalled page cannot grow our memory). Only a queue that was empty wakes its reader:
  // frames offered before the reader wakes are taken with the first.
  bool offer(std::span<const Frame> frames);

  enum class Take { kFrames, kTimeout, kClosed };
  // Waits up to `wait` for a frame, then moves every queued frame into `frames` (emptied first).
  Take take(std::vector<Frame>& frames, std::chrono::milliseconds wait);

  // Called by the stream's thread as it ends.
  void close();
  bool overflowed() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Frame> frames_;
  std::size_t queued_bytes_ = 0;
  std::size_t max_frames_;
  std::size_t max_bytes_;
  bool closed_ = false;
  bool overflowed_ = false;
};

class EventHub : public EventSink {
 public:
  static constexpr std::size_t kMaxQueuedFrames = 1000;
  // Toasts may carry up to a 1 MiB message, so a frame count alone would still let one stalled
  // page hold a gigabyte.
  static constexpr std::size_t kMaxQueuedBytes = 16u << 20;

  explicit EventHub(std::size_t max_queued_frames = kMaxQueuedFrames, std::size_t max_queued_bytes = kMaxQueuedBytes)
      : max_queued_frames_(max_queued_frames), max_queued_bytes_(max_queued_bytes) {}

  // Offers the frame to every open stream, dropping the ones that are gone; never touches a socket.
  void broadcast(std::string_view name, const json& value) override;
  // Sends every open stream a keep-alive comment and counts the ones still there.
  int viewer_count();
  // Both at once: each stream gets the frame and the keep-alive comment in one offer (one
  // wake-up, one write); the count is taken after the frame, as the two calls would.
  int broadcast_and_count(std::string_view name, const json& value);
  std::shared_ptr<ViewerQueue> subscribe();

 private:
  std::size_t offer_all(std::span<const Frame> frames);

  std::mutex mutex_;
  std::vector<std::shared_ptr<ViewerQueue>> viewers_;
  std::size_t max_queued_frames_;
  std::size_t max_queued_bytes_;
};

}  // namespace loomdeck
