#pragma once

#include "http/request.h"
#include "http/server_state.h"
#include "http/stream.h"

namespace loomdeck {

// One request on its way through a route: what was asked, the shared state, and where the
// reply goes.
struct Exchange {
  ServerState& state;
  const Request& request;
  Stream& stream;
};

using RouteHandler = void (*)(Exchange&);

}  // namespace loomdeck
