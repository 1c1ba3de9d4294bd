#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "actions/auto_green.h"
#include "actions/dispatcher.h"
#include "actions/green_run_registry.h"
#include "bridge/bridge.h"
#include "bridge/bridge_client.h"
#include "bridge/status_service.h"
#include "bridge/status_watch.h"
#include "bridge/targets.h"
#include "core/background.h"
#include "core/clock.h"
#include "core/process.h"
#include "core/server_log.h"
#include "http/event_hub.h"
#include "http/peer_slots.h"
#include "logbook/logbook.h"
#include "parts/parts_service.h"
#include "parts/staged_part.h"
#include "server/access_token.h"
#include "server/blocked_notices.h"
#include "server/request_gate.h"
#include "settings/settings.h"
#include "tour/tts.h"

namespace loomdeck {

// Everything the connection threads and background threads share, for the server's life: the
// seams, the log, the event hub, the gate and each feature's own maps. Each member guards itself;
// no lock is held across a bridge call, a socket write or a second lock.
struct ServerState : std::enable_shared_from_this<ServerState> {
  // `home` is the user's home as resolved at start-up. `sink` receives what procedures broadcast;
  // by default the event hub.
  ServerState(std::string attribution, std::string default_target, std::optional<std::string> home, Clock& clock,
              ProcessRunner& runner, Bridge& bridge, EventSink* sink = nullptr);
  ServerState(const ServerState&) = delete;
  ServerState& operator=(const ServerState&) = delete;

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
  RunInBackground run_in_background;

  // Who besides the server's own pages and local tools may use the gated routes; set once before
  // the first connection is accepted.
  GateConfig gate;
  // When to tell the open pages that a request from another web site was refused.
  BlockedNotices blocked_notices;
  // What a peer that is not on this machine must present; set once before the first connection.
  AccessToken token;
  // When to tell the open pages that a network peer without the token was refused.
  BlockedNotices peer_notices;
  // When to tell the open pages that the dashboard was opened from another site.
  BlockedNotices entrance_notices;
  // The header lines every page carries (framing policy); set once before the first connection.
  std::string page_headers;
  // What the dock's address carries so its webview counts as the user's own entrance; empty
  // without a dock.
  std::string dock_key;

  SettingsStore settings;
  DefaultBoxPicks default_box_picks{clock, 1, kProbeTimeLimit};
  // The last box listing, which the pages' timed refreshes share.
  TargetListings target_listings;
  // Whether a box is one the bridge knows, so that made-up names leave no state behind.
  KnownBoxes known_boxes{clock, [this] { return listed_box_names(bridge); }};
  // Event streams each network peer holds.
  PeerSlots event_stream_slots{kMaxEventStreamsPerPeer};
  // The boxes the open event streams show, refreshed by the server while they are open.
  StatusWatch status_watch{clock};
  // What changed on each box, recorded from every status the server builds.
  Logbook logbook{sink};
  // Speech: one synthesis per text, and few at once, however many pages ask.
  TtsFlights tts_flights{clock, kTtsMaxRunning, kTtsSlotWait};

  // The features, each built once from the members above.
  StatusService status;
  GreenRuns green_runs{status};
  PartsService parts{green_runs, runner, settings};
  Dispatcher actions;

  // When a request last showed that someone uses this server (see counts_as_activity).
  void touch();
  Clock::Instant last_activity() const;

 private:
  // run_in_background, keeping this state alive until the work is done.
  RunInBackground background();

  mutable std::mutex activity_mutex_;
  Clock::Instant last_activity_;
};

}  // namespace loomdeck
