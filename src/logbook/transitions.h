#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/json_text.h"
#include "status/box_status.h"

namespace loomdeck {

// The entry `led` under which the bridge's own answering or silence is recorded.
inline constexpr const char* kBridgeLed = "bridge";
// A recorded hint is cut to this many characters.
inline constexpr std::size_t kMaxEntryHintChars = 300;

// The last recorded state of each LED of one box (and of "bridge"), by key.
using BoxStates = std::map<std::string, std::string>;

struct Transitions {
  std::vector<json> entries;  // one per change, in the payload's LED order, "bridge" first
  BoxStates states;           // what to remember for the box from now on
};

// Compares a box's status with the states last recorded for its box (`last`, empty when the box
// has not been seen) and says which entries to record, each stamped `at`. A status whose bridge
// did not answer records only the bridge going silent: its LEDs show nothing about the box, so
// their last known states are kept. A status without a `target` records nothing. Each LED's state
// is its word (BoxStatus::word).
Transitions compare_states(const BoxStates& last, const BoxStatus& status, const std::string& at);

}  // namespace loomdeck
