#pragma once

#include <string_view>

#include "http/request.h"
#include "http/stream.h"
#include "server/server_state.h"

namespace loomdeck {

// Whether a request shows that someone uses this server, which keeps its idle supervisor from
// retiring it. A page that only watches its event stream does not, and neither does
// /api/ping: that is what discovery and the supervisors of the servers in the port range send
// (a person or an agent doing real work sends something else).
bool counts_as_activity(std::string_view path);

// Answers one parsed request: notes the activity, then writes the preflight reply or runs the route.
void answer_request(ServerState& state, const Request& request, Stream& stream);

}  // namespace loomdeck
