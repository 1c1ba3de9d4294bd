#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "core/clock.h"

namespace loomdeck {

// Decides when a refused request is worth telling the user about: at most once per origin per
// minute and once per 10 s in all, so a hostile page that keeps trying is named without flooding
// the dashboard with toasts.
class BlockedNotices {
 public:
  static constexpr std::chrono::seconds kPerOrigin{60};
  static constexpr std::chrono::seconds kInAll{10};

  // True when a notice about `culprit` should go out now; it then counts as sent.
  bool should_announce(const std::string& culprit, Clock::Instant now);

 private:
  std::mutex mutex_;
  std::map<std::string, Clock::Instant> last_by_culprit_;
  std::optional<Clock::Instant> last_any_;
};

// "Blocked a request from <culprit> to <path> - another web page tried to drive this dashboard"
std::string blocked_notice_text(const std::string& culprit, const std::string& path);

}  // namespace loomdeck
