#pragma once

#include "http/request.h"
#include "http/stream.h"
#include "server/request_gate.h"
#include "server/server_state.h"

namespace loomdeck {

inline constexpr const char* kRefusalHint =
    "Requests from other web sites are refused. Use the dashboard page itself, or curl and loomdeck ui from the "
    "container; a trusted origin can be listed in LOOMDECK_ALLOWED_ORIGINS.";

inline constexpr const char* kTokenHint =
    "Machines on the network need this dashboard's token. On the machine that runs loomdeck it is in "
    "~/.ovra/loomdeck/token: send it as the header `Authorization: Bearer <token>`, or open a page once as "
    "/?token=<token> and the browser keeps it. From inside that machine, use http://127.0.0.1:<port>/ instead.";

// Answers a request the gate refused: 403 with a JSON object no other site may read, one line in
// the server log, and now and then a toast that names the page. Nothing of the route runs.
void answer_refused(ServerState& state, const Request& request, Stream& stream, const GateVerdict& verdict);

// Answers a request that cannot be acted on as it came (ambiguous gate headers, a body framing the
// server does not read): 400 with a JSON object, one log line. Nothing runs.
void answer_bad_request(ServerState& state, const Request& request, Stream& stream, const std::string& why);

// Answers a peer that is not on this machine and presented no valid token: 401 with a JSON object
// no other site may read, one log line, and now and then a toast that names the peer. Nothing runs.
void answer_unauthorised(ServerState& state, const Request& request, Stream& stream, const std::string& why);

}  // namespace loomdeck
