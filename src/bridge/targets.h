#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/bridge_client.h"
#include "core/clock.h"
#include "core/guarded_map.h"
#include "core/single_flight.h"
#include "http/request.h"
#include "http/stream.h"

namespace loomdeck {

// The names `ovra-bridge targets` lists, in order; empty when the listing cannot be had.
std::vector<std::string> listed_box_names(Bridge& bridge);

// The box to use when none is named: the one whose Fusion is most ready (first wins a tie).
std::string pick_best_box(Bridge& bridge);

// Choices of the default box; one under way is shared rather than repeated, since it probes
// every box in turn.
using DefaultBoxPicks = SingleFlight<std::string>;

// How the server finds the box of a request that names none.
struct BoxChoice {
  Bridge& bridge;
  const std::string& default_target;  // `serve --target`, empty when not given
  DefaultBoxPicks& picks;
};

// The `serve --target` box, else the best box.
std::string default_box(const BoxChoice& boxes);

// The box the query's first `target` parameter names, "%20" read as a space and every other escape
// kept as it came; nothing when the query names none.
std::optional<std::string> named_box(std::string_view query);

// The request's box: the one its query names, else the default box.
std::string request_box(const BoxChoice& boxes, const Request& request);

// False, after answering with the refusal, when `box` may not be handed to the bridge.
bool box_usable(Stream& stream, const std::string& box);

// How old a box listing may be for a request that takes a shared one (`shared=1`, what the pages'
// timed refresh asks for): one listing then serves every open page instead of one per page.
inline constexpr std::chrono::seconds kSharedListingAge{45};

struct TargetListing {
  Clock::Instant taken;
  json reply;
};
// The last listing GET /api/targets answered with, under the empty key (the only one).
using TargetListings = GuardedMap<TargetListing>;

// GET /api/targets: every box with its readiness, listed anew; with `shared=1`, the last listing
// when it is younger than 45 s.
void handle_targets(const BridgeClient& bridge, Clock& clock, TargetListings& listings, const Request& request,
                    Stream& stream);

}  // namespace loomdeck
