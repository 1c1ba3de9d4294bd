#include "http/event_hub.h"

#include <algorithm>

namespace loomdeck {

std::string event_frame(std::string_view name, const json& value) {
  std::string frame = "event: ";
  frame += name;
  frame += "\ndata: ";
  frame += dump_compact(value);
  frame += "\n\n";
  return frame;
}

bool ViewerQueue::offer(std::span<const Frame> frames) {
  bool wake = false;
  bool overflowed = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || overflowed_) return false;
    wake = frames_.empty();
    for (const Frame& frame : frames) {
      if (frames_.size() >= max_frames_ || queued_bytes_ + frame->size() > max_bytes_) {
        overflowed_ = true;
        overflowed = true;
        frames_.clear();
        queued_bytes_ = 0;
        wake = true;
        break;
      }
      frames_.push_back(frame);
      queued_bytes_ += frame->size();
    }
  }
  if (wake) ready_.notify_one();
  return !overflowed;
}

ViewerQueue::Take ViewerQueue::take(std::vector<Frame>& frames, std::chrono::milliseconds wait) {
  frames.clear();
  std::unique_lock<std::mutex> lock(mutex_);
  ready_.wait_for(lock, wait, [&] { return !frames_.empty() || overflowed_ || closed_; });
  if (overflowed_ || closed_) return Take::kClosed;
  if (frames_.empty()) return Take::kTimeout;
  frames.assign(std::make_move_iterator(frames_.begin()), std::make_move_iterator(frames_.end()));
  frames_.clear();
  queued_bytes_ = 0;
  return Take::kFrames;
}

void ViewerQueue::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  frames_.clear();
  queued_bytes_ = 0;
}

bool ViewerQueue::overflowed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return overflowed_;
}

namespace {

const Frame& ping_frame() {
  static const Frame ping = std::make_shared<const std::string>(kPingFrame);
  return ping;
}

}  // namespace

std::size_t EventHub::offer_all(std::span<const Frame> frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  viewers_.erase(std::remove_if(viewers_.begin(), viewers_.end(),
                                [&](const std::shared_ptr<ViewerQueue>& v) { return !v->offer(frames); }),
                 viewers_.end());
  return viewers_.size();
}

void EventHub::broadcast(std::string_view name, const json& value) {
  const Frame frame = std::make_shared<const std::string>(event_frame(name, value));
  offer_all(std::span<const Frame>(&frame, 1));
}

int EventHub::viewer_count() { return static_cast<int>(offer_all(std::span<const Frame>(&ping_frame(), 1))); }

int EventHub::broadcast_and_count(std::string_view name, const json& value) {
  const Frame frames[] = {std::make_shared<const std::string>(event_frame(name, value)), ping_frame()};
  return static_cast<int>(offer_all(frames));
}

std::shared_ptr<ViewerQueue> EventHub::subscribe() {
  auto queue = std::make_shared<ViewerQueue>(max_queued_frames_, max_queued_bytes_);
  std::lock_guard<std::mutex> lock(mutex_);
  viewers_.push_back(queue);
  return queue;
}

}  // namespace loomdeck
