#pragma once

#include "http/request.h"
#include "http/stream.h"
#include "server/request_gate.h"
#include "server/server_state.h"

namespace loomdeck {

inline constexpr const char* kRefusalHint =
    "Requests from other web sites are refused. Use the dashboard page itself, or curl and loomdeck ui from the "
    "container; a trusted origin can be listed in LOOMDECK_ALLOWED_ORIGINS.";

// Answers a request the gate refused: 403 with a JSON object no other site may read, one line in
// the server log, and now and then a toast that names the page. Nothing of the route runs.
void answer_refused(ServerState& state, const Request& request, Stream& stream, const GateVerdict& verdict);

}  // namespace loomdeck
