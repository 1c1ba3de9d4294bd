#pragma once

#include <string>

#include "bridge/bridge.h"
#include "http/exchange.h"

namespace loomdeck {

// The box to use when none is named: the one whose Fusion is most ready (first wins a tie).
std::string pick_best_box(Bridge& bridge);

// The `serve --target` box, else the best box (a choice under way is shared, not repeated).
std::string default_box(ServerState& state);

// The request's box: its target param, else the default box.
std::string request_box(Exchange& ex);

// False, after answering with the refusal, when `box` may not be handed to the bridge.
bool box_usable(Exchange& ex, const std::string& box);

// GET /api/targets
void handle_targets(Exchange& ex);

}  // namespace loomdeck
