#pragma once

#include "http/request.h"
#include "http/stream.h"
#include "server/server_state.h"

namespace loomdeck {

// Finds the route for the request by method and exact path and runs it. A route that fails
// unexpectedly still answers with a JSON failure object, and the server log says why.
void dispatch(ServerState& state, const Request& request, Stream& stream);

}  // namespace loomdeck
