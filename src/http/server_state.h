#pragma once

#include <functional>
#include <memory>
#include <thread>
#include <mutex>
#include <string>

#include "bridge/bridge.h"
#include "bridge/status_payload.h"
#include "core/clock.h"
#include "core/guarded_map.h"
#include "core/single_flight.h"
#include "core/json_text.h"
#include "core/process.h"
#include "actions/green_run_registry.h"
#include "http/blocked_notices.h"
#include "http/event_hub.h"
#include "http/request_gate.h"
#include "http/server_log.h"
#include "parts/staged_part.h"

namespace loomdeck {

// Everything the connection threads and background threads share. Each member guards itself;
// no lock is held across a bridge call, a socket write or a second lock.
struct CachedStatus {
  Clock::Instant verified_at;
  json payload;
};

// Status builds running at once, over all boxes; each holds seven bridge processes.
inline constexpr std::size_t kMaxStatusBuilds = 8;

struct ServerState : std::enable_shared_from_this<ServerState> {
  // `sink` receives what procedures broadcast; by default the event hub, a recorder in tests.
  ServerState(std::string attribution, std::string default_target, Clock& clock, ProcessRunner& runner,
              Bridge& bridge, EventSink* sink = nullptr)
      : attribution(std::move(attribution)),
        default_target(std::move(default_target)),
        clock(clock),
        runner(runner),
        bridge(bridge),
        sink(sink ? *sink : events),
        last_activity_(clock.now()) {}

  const std::string attribution;
  const std::string default_target;
  Clock& clock;
  ProcessRunner& runner;
  Bridge& bridge;
  ServerLog log;
  EventHub events;
  EventSink& sink;
  // Puts background work (auto-green runs, status warm-ups) on a thread of its own; tests
  // replace it to run the work in place or to hold it back.
  std::function<void(std::function<void()>)> run_in_background = [](std::function<void()> work) {
    std::thread(std::move(work)).detach();
  };

  // Who besides the server's own pages and local tools may use the gated routes; set once before
  // the first connection is accepted.
  GateConfig gate;
  // When to tell the open pages that a request from another web site was refused.
  BlockedNotices blocked_notices;

  // The last status payload the bridge answered, per box.
  GuardedMap<CachedStatus> status_cache;
  // When a launch was issued on a box; entries of 240 s or more are stale.
  GuardedMap<Clock::Instant> launches_in_flight;
  // Why the last launch on a box did not take, shown on its Fusion LED.
  GuardedMap<std::string> launch_failure_hints;
  // Boxes with a status warm-up running, so a polling client cannot stack them.
  GuardedMap<bool> warmups_in_flight;
  // The seven probes of a box run once for everyone who asks while they run, so a hung box
  // costs seven processes however many pages poll it; a caller finding all builds busy waits
  // for a slot no longer than a probe may take.
  SingleFlight<StatusProbes> status_builds{clock, kMaxStatusBuilds, kProbeTimeLimit};
  // Likewise the choice of the default box, which probes every box one after the other.
  SingleFlight<std::string> default_box_picks{clock, 1, kProbeTimeLimit};
  // At most one auto-green run per box, and none again within 180 s of the last.
  GreenRunRegistry green_runs;
  // Wiki parts staged for the design surfaces, keyed "box|part"; kept for the server's life.
  GuardedMap<StagedPart> staged_parts;

  void touch() {
    const auto now = clock.now();
    std::lock_guard<std::mutex> lock(activity_mutex_);
    last_activity_ = now;
  }
  Clock::Instant last_activity() const {
    std::lock_guard<std::mutex> lock(activity_mutex_);
    return last_activity_;
  }

 private:
  mutable std::mutex activity_mutex_;
  Clock::Instant last_activity_;
};

}  // namespace loomdeck
