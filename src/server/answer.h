#pragma once

#include <string>
#include <string_view>

#include "http/request.h"
#include "http/stream.h"
#include "server/access_token.h"
#include "server/server_state.h"

namespace loomdeck {

// Whether a peer may use the server at all: one on this machine always, one on the network with
// the token (the bearer header, the cookie, or "?token=" when opening a page), and anyone for
// /api/ping.
struct PeerAccess {
  bool allowed = true;
  bool token = false;  // it presented the server's token
  std::string why;     // for a refusal
};
PeerAccess decide_peer_access(const Request& request, const AccessToken& token);

// Answers one parsed request: refuses what cannot be acted on or comes from a network peer without
// the token, then writes the preflight reply or runs the route.
void answer_request(ServerState& state, const Request& request, Stream& stream);

}  // namespace loomdeck
