#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "bridge/bridge_client.h"
#include "bridge/known_boxes.h"
#include "bridge/status_payload.h"
#include "bridge/targets.h"
#include "core/background.h"
#include "core/clock.h"
#include "core/event_sink.h"
#include "core/guarded_map.h"
#include "core/server_log.h"
#include "core/single_flight.h"

namespace loomdeck {

// A status verified this many seconds ago or more is no longer presented as current.
inline constexpr long long kStaleAfterSeconds = 181;
// A launch entry this old no longer counts as in flight.
inline constexpr long long kLaunchWindowSeconds = 240;
// Status builds running at once, over all boxes; each holds seven bridge processes.
inline constexpr std::size_t kMaxStatusBuilds = 8;

struct CachedStatus {
  Clock::Instant verified_at;
  json payload;
};

// The maps the status keeps per box, each behind its own mutex.
using StatusCache = GuardedMap<CachedStatus>;               // the last payload the bridge answered
using WarmupsInFlight = GuardedMap<bool>;                   // boxes with a warm-up running
using LaunchesInFlight = GuardedMap<Clock::Instant>;        // when a launch was issued on the box
using LaunchFailureHints = GuardedMap<std::string>;         // why the last launch did not take
// The seven probes of a box run once for everyone who asks while they run.
using StatusBuilds = SingleFlight<StatusProbes>;

// Told of every status payload the server builds for itself (live status, warm-up, launch and
// auto-green polls), before the cache or a launch hint patches it.
using StatusObserver = std::function<void(const json& payload, Clock::WallTime built_at)>;

// What the status service works with: the seams, how a box is chosen, its maps, and who is told
// of each payload built.
struct StatusContext {
  BridgeClient bridge;
  Clock& clock;
  EventSink& sink;
  ServerLog& log;
  RunInBackground in_background;
  BoxChoice boxes;
  StatusBuilds& builds;
  StatusCache& cache;
  WarmupsInFlight& warmups;
  LaunchesInFlight& launches_in_flight;
  LaunchFailureHints& launch_failure_hints;
  // A box the bridge does not know gets its status without leaving state behind.
  KnownBoxes& known_boxes;
  StatusObserver observe;
};

// Runs the seven status probes of a box at once and waits for all of them.
StatusProbes run_status_probes(const BridgeClient& bridge, const std::string& box);

// One fresh status payload for the box, with the dashboard settings read from disk.
json build_status(Bridge& bridge, Clock& clock, const std::string& attribution, const std::string& box,
                  bool launch_in_flight);

// A fresh status payload for the server's own use (live status, warm-up, the auto-green run),
// from the box's shared status build: a build already running for the box is joined (with
// `fresh`, only one begun after this call), and one that finds all builds busy and no slot
// within the probe time limit gets the "bridge did not answer" payload. Why the box's last
// launch did not start or take is on its Fusion LED while Fusion is neither up nor starting. The
// observer hears only of boxes the bridge knows.
json server_status(const StatusContext& status, const std::string& box, bool launch_in_flight, bool fresh = false);

// Whether a launch was issued on the box less than 240 s ago (older entries are dropped).
bool launch_in_flight(const StatusContext& status, const std::string& box);

// The live status of a box as /api/status serves it: launch window, cache and stale patches
// applied, and pushed to every open page as a `state` event.
json live_status(const StatusContext& status, const std::string& box);

// Puts `why` (the box's last launch did not start or take) on the Fusion LED, as its `_hint` and
// as `notStarting`, when the LED shows Fusion neither running nor starting.
json apply_launch_failure(json payload, const std::optional<std::string>& why);

// Applies what the cache knows to a fresh payload (pure apart from reading the cache entry).
json apply_status_cache(json payload, const std::optional<CachedStatus>& cached, Clock::Instant now);

}  // namespace loomdeck
