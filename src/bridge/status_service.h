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
#include "settings/settings.h"
#include "status/box_status.h"

namespace loomdeck {

// A status verified this many seconds ago or more is no longer presented as current.
inline constexpr long long kStaleAfterSeconds = 181;
// A launch entry this old no longer counts as in flight.
inline constexpr long long kLaunchWindowSeconds = 240;
// Status builds running at once, over all boxes; each holds seven bridge processes.
inline constexpr std::size_t kMaxStatusBuilds = 8;

struct CachedStatus {
  Clock::Instant verified_at;
  BoxStatus status;
};

// The maps the status keeps per box, each behind its own mutex.
using StatusCache = GuardedMap<CachedStatus>;         // the last status the bridge answered
using WarmupsInFlight = GuardedMap<bool>;             // boxes with a warm-up running
using LaunchesInFlight = GuardedMap<Clock::Instant>;  // when a launch was issued on the box
using LaunchFailureHints = GuardedMap<std::string>;   // why the last launch did not take
// The seven probes of a box run once for everyone who asks while they run.
using StatusBuilds = SingleFlight<StatusProbes>;

// Told of every status the server builds for itself (live status, warm-up, launch and
// auto-green polls), before the cache or a launch hint patches it.
using StatusObserver = std::function<void(const BoxStatus& status, Clock::WallTime built_at)>;

// The status of the boxes: the seams it reads through, how a box is chosen, the per-box maps it
// keeps, and who is told of each status built. The launch procedures and the green runs keep its
// launch maps too.
class StatusService {
 public:
  StatusService(BridgeClient bridge, Clock& clock, EventSink& sink, ServerLog& log, const SettingsStore& settings,
                KnownBoxes& known_boxes, BoxChoice boxes, RunInBackground in_background, StatusObserver observe);
  StatusService(const StatusService&) = delete;
  StatusService& operator=(const StatusService&) = delete;

  const BridgeClient bridge;
  Clock& clock;
  EventSink& sink;
  ServerLog& log;
  const SettingsStore& settings;
  // A box the bridge does not know gets its status without leaving state behind.
  KnownBoxes& known_boxes;
  const BoxChoice boxes;
  const RunInBackground in_background;
  const StatusObserver observe;

  // A hung box costs seven processes however many pages poll it; a caller finding all builds
  // busy waits for a slot no longer than a probe may take.
  StatusBuilds builds{clock, kMaxStatusBuilds, kProbeTimeLimit};
  StatusCache cache;
  // So a polling client cannot stack warm-ups of a box.
  WarmupsInFlight warmups;
  LaunchesInFlight launches_in_flight;
  LaunchFailureHints launch_failure_hints;
};

// Runs the seven status probes of a box at once and waits for all of them.
StatusProbes run_status_probes(const BridgeClient& bridge, const std::string& box);

// One fresh status for the box, with the dashboard settings as `settings` holds them.
BoxStatus build_status(const BridgeClient& bridge, Clock& clock, const SettingsStore& settings, const std::string& box,
                       bool launch_in_flight);

// A fresh status for the server's own use (live status, warm-up, the auto-green run), from the
// box's shared status build: a build already running for the box is joined (with `fresh`, only
// one begun after this call), and one that finds all builds busy and no slot within the probe
// time limit gets the "bridge did not answer" status. Why the box's last launch did not start or
// take is on its Fusion LED while Fusion is neither up nor starting. The observer hears only of
// boxes the bridge knows.
BoxStatus server_status(StatusService& status, const std::string& box, bool launch_in_flight, bool fresh = false);

// Whether a launch was issued on the box less than 240 s ago (older entries are dropped).
bool launch_in_flight(StatusService& status, const std::string& box);

// The live status of a box as /api/status serves it: launch window, cache and stale patches
// applied, and pushed to every open page as a `state` event.
BoxStatus live_status(StatusService& status, const std::string& box);

// Puts `why` (the box's last launch did not start or take) on the Fusion LED, as its hint and
// as `notStarting`, when the LED shows Fusion neither running nor starting.
BoxStatus apply_launch_failure(BoxStatus status, const std::optional<std::string>& why);

// Applies what the cache knows to a fresh status (pure apart from reading the cache entry).
BoxStatus apply_status_cache(BoxStatus fresh, const std::optional<CachedStatus>& cached, Clock::Instant now);

}  // namespace loomdeck
