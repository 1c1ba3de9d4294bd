#include "server/blocked_notices.h"

#include "core/utf8.h"

namespace loomdeck {

bool BlockedNotices::should_announce(const std::string& culprit, Clock::Instant now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (last_any_ && now - *last_any_ < kInAll) return false;
  // Entries older than a minute no longer hold anything back; dropping them keeps the map to the
  // few origins named in the last minute.
  std::erase_if(last_by_culprit_, [&](const auto& entry) { return now - entry.second >= kPerOrigin; });
  if (last_by_culprit_.count(culprit)) return false;
  last_by_culprit_[culprit] = now;
  last_any_ = now;
  return true;
}

std::string blocked_notice_text(const std::string& culprit, const std::string& path) {
  return "Blocked a request from " + culprit + " to " + utf8_prefix(lenient_utf8(path), 200) +
         " - another web page tried to drive this dashboard";
}

}  // namespace loomdeck
