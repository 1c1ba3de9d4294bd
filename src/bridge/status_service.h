#pragma once

#include <string>

#include "bridge/bridge.h"
#include "bridge/status_payload.h"
#include "core/clock.h"
#include "http/exchange.h"

namespace loomdeck {

// A status verified this many seconds ago or more is no longer presented as current.
inline constexpr long long kStaleAfterSeconds = 181;
// A launch entry this old no longer counts as in flight.
inline constexpr long long kLaunchWindowSeconds = 240;

// Runs the seven status probes of a box at once and waits for all of them.
StatusProbes run_status_probes(Bridge& bridge, const std::string& attribution, const std::string& box);

// One fresh status payload for the box, with the dashboard settings read from disk.
json build_status(Bridge& bridge, Clock& clock, const std::string& attribution, const std::string& box,
                  bool launch_in_flight);

// A fresh status payload for the server's own use (live status, warm-up, the auto-green run),
// from the box's shared status build: a build already running for the box is joined (with
// `fresh`, only one begun after this call), and one that finds all builds busy and no slot
// within the probe time limit gets the "bridge did not answer" payload.
json server_status(ServerState& state, const std::string& box, bool launch_in_flight, bool fresh = false);

// Whether a launch was issued on the box less than 240 s ago (older entries are dropped).
bool launch_in_flight(ServerState& state, const std::string& box);

// The live status of a box as /api/status serves it: launch window, failure hint, cache and
// stale patches applied, and pushed to every open page as a `state` event.
json live_status(ServerState& state, const std::string& box);

// Applies what the cache knows to a fresh payload (pure apart from reading the cache entry).
json apply_status_cache(json payload, const std::optional<CachedStatus>& cached, Clock::Instant now);

// GET /api/status and GET /state; GET /api/health.
void handle_status(Exchange& ex);
void handle_health(Exchange& ex);

}  // namespace loomdeck
