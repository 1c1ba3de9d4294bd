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

bool ViewerQueue::offer(const std::string& frame) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || overflowed_) return false;
    if (frames_.size() >= max_frames_ || queued_bytes_ + frame.size() > max_bytes_) {
      overflowed_ = true;
      frames_.clear();
      queued_bytes_ = 0;
    } else {
      frames_.push_back(frame);
      queued_bytes_ += frame.size();
    }
  }
  ready_.notify_one();
  std::lock_guard<std::mutex> lock(mutex_);
  return !overflowed_;
}

ViewerQueue::Take ViewerQueue::take(std::string& frame, std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  ready_.wait_for(lock, wait, [&] { return !frames_.empty() || overflowed_ || closed_; });
  if (overflowed_ || closed_) return Take::kClosed;
  if (frames_.empty()) return Take::kTimeout;
  frame = std::move(frames_.front());
  frames_.pop_front();
  queued_bytes_ -= frame.size();
  return Take::kFrame;
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

std::size_t EventHub::offer_all(const std::string& frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  viewers_.erase(std::remove_if(viewers_.begin(), viewers_.end(),
                                [&](const std::shared_ptr<ViewerQueue>& v) { return !v->offer(frame); }),
                 viewers_.end());
  return viewers_.size();
}

void EventHub::broadcast(std::string_view name, const json& value) { offer_all(event_frame(name, value)); }

int EventHub::viewer_count() { return static_cast<int>(offer_all(std::string(kPingFrame))); }

std::shared_ptr<ViewerQueue> EventHub::subscribe() {
  auto queue = std::make_shared<ViewerQueue>(max_queued_frames_, max_queued_bytes_);
  std::lock_guard<std::mutex> lock(mutex_);
  viewers_.push_back(queue);
  return queue;
}

}  // namespace loomdeck
