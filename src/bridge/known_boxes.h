#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/json_text.h"

namespace loomdeck {

// Whether a bridge answer says the box is not one the bridge knows: a tool's data whose `error`
// begins "unknown target".
bool says_unknown_target(const json& answer);

// Which boxes the server keeps state for. Box names come from requests, so a mistyped or
// scripted name must get its answer without leaving anything behind: a name the bridge answered
// "unknown target" for is not kept, nor one the bridge's box listing lacks when it lists any.
class KnownBoxes {
 public:
  // How long one listing decides for every name that is not yet known.
  static constexpr std::chrono::seconds kListingAge{60};

  // `list` gives the bridge's box names; empty when the listing cannot be had.
  KnownBoxes(Clock& clock, std::function<std::vector<std::string>()> list);

  // Whether state may be kept for `box`, given whether the bridge's answer for it said "unknown
  // target" (says_unknown_target). The default box (the empty name) is always kept; a name the
  // last listing held is kept without asking again.
  bool keeps(const std::string& box, bool unknown_target);

 private:
  bool listed(const std::string& box) const;  // under mutex_

  Clock& clock_;
  const std::function<std::vector<std::string>()> list_;
  mutable std::mutex mutex_;  // guards the members below; never held while the bridge lists
  std::optional<Clock::Instant> taken_;
  std::vector<std::string> names_;
  bool listing_ = false;  // a listing is under way
};

}  // namespace loomdeck
