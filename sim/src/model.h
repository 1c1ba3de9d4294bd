// Pure rules of a simulated box: what it reports at an instant, and how it moves forward in time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "box.h"

namespace sim {

int64_t seconds_to_ms(double seconds);

// The label of the verb occupying Fusion's main thread, if any.
std::optional<std::string> main_thread_busy(const Box& box);
// Fusion up, signed in, add-in loaded and free, no modal dialog in the way.
bool is_ready(const Box& box);
// The add-in answers at all (it may still be busy).
bool addin_responding(const Box& box);

// The bridge's launch estimate while a launch is under way (null otherwise).
json launch_progress(const Box& box, int64_t now_ms);
// Percentiles of the measured launches, {} when there are none.
json launch_timings(const Box& box);

// Starts a background launch; the caller has checked that none is under way.
void begin_launch(Box& box, int64_t now_ms, bool takes, const std::string& failure);
// Fusion goes away (graceful close, kill, seat hand-over): verbs in flight fail with `why`.
void end_fusion(Box& box, int64_t now_ms, const std::string& why, bool keep_documents);

// Brings the box up to `now_ms`: launches land, timed verbs complete, the tour moves on,
// the upkeep sweep handles an offered update, and the ready/sign-in stamps are refreshed.
void advance(Box& box, int64_t now_ms);

// Adds a timed verb and returns its id.
std::string add_op(Box& box, const std::string& verb, const json& args, int64_t until_ms, bool main_thread);
// The stored answer of a completed verb, if it is still remembered.
std::optional<json> op_answer(const Box& box, const std::string& op_id);
bool op_pending(const Box& box, const std::string& op_id);

}  // namespace sim
