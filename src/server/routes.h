#pragma once

#include <string_view>

#include "http/request.h"
#include "http/stream.h"
#include "server/server_state.h"

namespace loomdeck {

// Finds the route for the request by method and exact path and runs it. A route that fails
// unexpectedly still answers with a JSON failure object, and the server log says why.
// `token`: the request carried the server's token (a browser sends its cookie only with the
// dashboard's own requests).
void dispatch(ServerState& state, const Request& request, Stream& stream, bool token = false);

// Whether a request shows that someone uses this server, which keeps its idle supervisor from
// retiring it. A page that only watches its event stream does not, and neither does
// /api/ping: that is what discovery and the supervisors of the servers in the port range send
// (a person or an agent doing real work sends something else).
bool counts_as_activity(std::string_view path);

}  // namespace loomdeck
