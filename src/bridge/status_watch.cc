#include "bridge/status_watch.h"

#include <algorithm>
#include <exception>

namespace loomdeck {

std::vector<std::string> due_boxes(const WatchedBoxes& boxes, Clock::Instant now) {
  std::vector<std::string> due;
  for (const auto& [box, w] : boxes) {
    if (w.streams > 0 && !w.refreshing && now - w.last_built >= kWatchPeriod) due.push_back(box);
  }
  return due;
}

std::chrono::milliseconds until_next_due(const WatchedBoxes& boxes, Clock::Instant now,
                                         std::chrono::milliseconds longest) {
  std::chrono::milliseconds pause = longest;
  for (const auto& [box, w] : boxes) {
    if (w.streams == 0 || w.refreshing) continue;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(w.last_built + kWatchPeriod - now);
    pause = std::clamp(left, std::chrono::milliseconds(0), pause);
  }
  return pause;
}

StatusWatch::Hold::Hold(Hold&& other) noexcept : watch_(other.watch_), box_(std::move(other.box_)) {
  other.watch_ = nullptr;
}

StatusWatch::Hold& StatusWatch::Hold::operator=(Hold&& other) noexcept {
  if (this != &other) {
    if (watch_) watch_->release(box_);
    watch_ = other.watch_;
    box_ = std::move(other.box_);
    other.watch_ = nullptr;
  }
  return *this;
}

StatusWatch::Hold::~Hold() {
  if (watch_) watch_->release(box_);
}

StatusWatch::Hold StatusWatch::show(const std::string& box) {
  const Clock::Instant now = clock_.now();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = boxes_.find(box);
    if (it != boxes_.end()) {
      ++it->second.streams;
    } else if (boxes_.size() < max_boxes_) {
      boxes_.emplace(box, WatchedBox{1, now, false});
    } else {
      return Hold();
    }
  }
  shown_.notify_all();
  return Hold(this, box);
}

void StatusWatch::release(const std::string& box) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = boxes_.find(box);
  if (it != boxes_.end() && --it->second.streams == 0) boxes_.erase(it);
}

void StatusWatch::built(const std::string& box) {
  const Clock::Instant now = clock_.now();
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = boxes_.find(box);
  if (it != boxes_.end()) it->second.last_built = std::max(it->second.last_built, now);
}

std::vector<std::string> StatusWatch::take_due() {
  const Clock::Instant now = clock_.now();
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> due = due_boxes(boxes_, now);
  for (const std::string& box : due) boxes_[box].refreshing = true;
  return due;
}

void StatusWatch::refreshed(const std::string& box) {
  const Clock::Instant now = clock_.now();
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = boxes_.find(box);
  if (it == boxes_.end()) return;
  it->second.refreshing = false;
  it->second.last_built = std::max(it->second.last_built, now);
}

std::chrono::milliseconds StatusWatch::pause() {
  const Clock::Instant now = clock_.now();
  std::lock_guard<std::mutex> lock(mutex_);
  return until_next_due(boxes_, now, kWatchLongestPause);
}

void StatusWatch::wait_for_streams() {
  std::unique_lock<std::mutex> lock(mutex_);
  shown_.wait(lock, [this] { return !boxes_.empty(); });
}

namespace {

void refresh_watched_box(StatusWatch& watch, StatusService& status, const std::string& box) {
  try {
    live_status(status, box.empty() ? default_box(status.boxes) : box);
  } catch (const std::exception& e) {
    status.log.append("status watch of " + box + " failed: " + e.what());
  }
  watch.refreshed(box);
}

}  // namespace

void status_watch_tick(StatusWatch& watch, StatusService& status) {
  for (const std::string& box : watch.take_due()) {
    try {
      status.in_background([&watch, &status, box] { refresh_watched_box(watch, status, box); });
    } catch (const std::exception&) {
      // No thread to spare: refresh here rather than lose the round.
      refresh_watched_box(watch, status, box);
    }
  }
  status.clock.sleep_for(watch.pause());
}

void run_status_watch(StatusWatch& watch, StatusService& status) {
  for (;;) {
    watch.wait_for_streams();
    status_watch_tick(watch, status);
  }
}

}  // namespace loomdeck
