// The bridge's demo runner: a guided tour that walks through fixed steps over simulated time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "box.h"

namespace sim {

struct TourStep {
  const char* key;      // narration step key
  const char* label;
  const char* caption;
  const char* surface;  // the view captured at the end of the step
};

const std::vector<TourStep>& tour_steps();

// Starts a tour on a ready box and returns its id.
std::string start_tour(Box& box, int64_t now_ms);
// Moves a running tour forward to now: finished steps leave a captured view behind.
void advance_tour(Box& box, int64_t now_ms);
// Applies a transport command ("prev", "pause", "resume", "next", "exit"); returns the error text or "".
std::string control_tour(Box& box, const std::string& action, int64_t now_ms);
// The tour fails because Fusion went away.
void fail_tour(Box& box, const std::string& why);
// The progress reply for a poll; images as "base64" or "paths", shots from since_shot on.
json tour_progress(const Box& box, const std::string& images_as, int64_t since_shot, int64_t now_ms);
bool tour_occupies_main_thread(const Box& box);

}  // namespace sim
