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

// Whether the path is one of the two pages (the dashboard, quick actions).
bool is_page_path(std::string_view path);

}  // namespace loomdeck
