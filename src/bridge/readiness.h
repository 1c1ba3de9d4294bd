#pragma once

#include <optional>
#include <string>

#include "bridge/bridge.h"
#include "core/clock.h"

namespace loomdeck {

inline constexpr const char* kStateArgs = "{\"screenshot\":false}";

// Whether the box's bridge add-in reports ready; any failure reads as not ready.
bool probe_ready(Bridge& bridge, const std::string& attribution, const std::string& box);

// Whether a `fusion_state` answer (unwrapped) shows the add-in answering with its main thread
// free: `mainThreadBusy` absent or null (false counts as busy).
bool main_thread_free(const json& state);

// Returns once the add-in answers with its main thread free, or after `max_seconds`.
// The first look comes after the first 10 s sleep.
void wait_until_settled(Bridge& bridge, Clock& clock, const std::string& attribution, const std::string& box,
                        long long max_seconds);

// Whether the document in front is one of the bridge's generated test documents.
bool is_bridge_test_document(Bridge& bridge, const std::string& attribution, const std::string& box);

// The box's measured cold-launch time: p90, else p50, when a number.
std::optional<double> cold_launch_seconds(const json& state);

}  // namespace loomdeck
