#include "bridge/known_boxes.h"

#include <algorithm>

#include "core/text.h"

namespace loomdeck {

namespace {

bool starts_unknown_target(const json& answer, const char* key) {
  const std::string text = string_member(answer, key);
  return text.rfind("unknown target", 0) == 0;
}

}  // namespace

bool says_unknown_target(const json& answer) { return starts_unknown_target(answer, "error"); }

KnownBoxes::KnownBoxes(Clock& clock, std::function<std::vector<std::string>()> list)
    : clock_(clock), list_(std::move(list)) {}

bool KnownBoxes::listed(const std::string& box) const {
  // A bridge that lists nothing gives nothing to judge by.
  if (names_.empty()) return true;
  // The bridge compares box names ignoring ASCII case.
  const std::string wanted = ascii_lower(box);
  return std::any_of(names_.begin(), names_.end(),
                     [&wanted](const std::string& n) { return ascii_lower(n) == wanted; });
}

bool KnownBoxes::keeps(const std::string& box, bool unknown_target) {
  if (box.empty()) return true;
  if (unknown_target) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool fresh = taken_ && clock_.now() - *taken_ < kListingAge;
    // One caller lists at a time; the others judge by the listing they have, or keep the box.
    if (fresh || listing_ || (taken_ && listed(box))) return listed(box);
    listing_ = true;
  }
  std::vector<std::string> names;
  try {
    names = list_();
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex_);
    listing_ = false;
    throw;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  listing_ = false;
  taken_ = clock_.now();
  names_ = std::move(names);
  return listed(box);
}

}  // namespace loomdeck
