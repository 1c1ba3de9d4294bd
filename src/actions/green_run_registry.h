#pragma once

#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "core/clock.h"
#include "core/lru_map.h"

namespace loomdeck {

// Which boxes have an auto-green run in flight and when each box's last run ended. Both live
// behind one mutex so that "may a run start?" and "it has started" are one step: two requests
// at once can never start two runs for one box.
class GreenRunRegistry {
 public:
  static constexpr long long kRecentSeconds = 180;

  // True when a run may start now (and it is then marked in flight); false to join instead.
  bool try_begin(const std::string& box, bool force, Clock::Instant now) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (in_flight_.count(box)) return false;
    const Clock::Instant* ended = finished_.find(box);
    if (!force && ended && now - *ended < std::chrono::seconds(kRecentSeconds)) return false;
    in_flight_.insert(box);
    return true;
  }
  void finish(const std::string& box, Clock::Instant now) {
    std::lock_guard<std::mutex> lock(mutex_);
    // An end older than the pause no longer holds anything back.
    finished_.erase_if([now](const Clock::Instant& at) { return now - at >= std::chrono::seconds(kRecentSeconds); });
    finished_.set(box, now);
    in_flight_.erase(box);
  }
  bool in_flight(const std::string& box) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return in_flight_.count(box) > 0;
  }
  // When the box's last run ended, if one did.
  std::optional<Clock::Instant> finished_at(const std::string& box) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Clock::Instant* ended = finished_.find(box);
    if (!ended) return std::nullopt;
    return *ended;
  }

 private:
  mutable std::mutex mutex_;
  std::set<std::string> in_flight_;
  mutable LruMap<Clock::Instant> finished_;  // a read marks the box as used
};

}  // namespace loomdeck
