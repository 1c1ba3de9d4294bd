#pragma once

#include <optional>
#include <string>

#include "bridge/bridge.h"
#include "bridge/bridge_client.h"
#include "core/clock.h"

namespace loomdeck {

inline constexpr const char* kStateArgs = "{\"screenshot\":false}";

// What a readiness answer (`fusion_readiness`, unwrapped) says, read the one way every caller
// reads it. A failed call reads as nothing known: not running, not ready.
struct Readiness {
  bool running = false;    // `fusionRunning`, else `running`
  bool stopped = false;    // the answer says outright that Fusion is not running
  bool ready = false;      // the add-in serves
  bool launching = false;  // a launch under way, by the bridge's word or else by this server's
  std::string signin_wall;
  bool needs_signin = false;
  bool update_offered = false;
  bool update_handled = false;
  std::string addin_version;
  std::string last_signed_in_at;
  std::string last_ready_at;
  std::string fusion_user;
  json progress;  // the launch progress while a launch is under way, else null
};

// The bridge's own `launching` decides when it gives one: a launch it says has ended (or never
// began) is not shown as starting, whatever this server asked for (`launch_in_flight`).
Readiness readiness_of(const json& answer, bool launch_in_flight = false);

// Asks the box's bridge for its readiness.
Readiness read_readiness(const BridgeClient& bridge, const std::string& box);

// Whether a `fusion_state` answer (unwrapped) shows the add-in answering with its main thread
// free: `mainThreadBusy` absent or null (false counts as busy).
bool main_thread_free(const json& state);

// Returns once the add-in answers with its main thread free, or after `max_seconds`.
// The first look comes after the first 10 s sleep.
void wait_until_settled(const BridgeClient& bridge, Clock& clock, const std::string& box, long long max_seconds);

// Whether the document in front is one of the bridge's generated test documents.
bool is_bridge_test_document(const BridgeClient& bridge, const std::string& box);

// The box's measured cold-launch time: p90, else p50, when a number.
std::optional<double> cold_launch_seconds(const json& state);

}  // namespace loomdeck
