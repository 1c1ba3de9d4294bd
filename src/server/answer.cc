#include "server/answer.h"

#include "http/response.h"
#include "server/gate_refusal.h"
#include "server/page_policy.h"
#include "server/request_gate.h"
#include "server/routes.h"

namespace loomdeck {

PeerAccess decide_peer_access(const Request& request, const AccessToken& token) {
  PeerAccess access;
  const std::optional<std::string> presented = presented_token(request.headers);
  access.token = presented && token_matches(*presented, token);
  if (!access.token && request.method == "GET" && is_page_path(request.path)) {
    const std::optional<std::string_view> in_query = raw_query_param(request.query, "token");
    access.token = in_query && token_matches(*in_query, token);
  }
  if (request.peer.loopback || access.token || request.path == "/api/ping") return access;
  access.allowed = false;
  const std::string peer = request.peer.text.empty() ? "the peer" : request.peer.text;
  if (token.value.empty()) {
    access.why = peer + " is not on this machine, and network peers cannot be let in: " + token.problem;
  } else if (presented) {
    access.why = "the token presented by " + peer + " is not this dashboard's";
  } else {
    access.why = peer + " is not on this machine and presented no token";
  }
  return access;
}

void answer_request(ServerState& state, const Request& request, Stream& stream) {
  if (request.malformed) {
    answer_bad_request(state, request, stream, *request.malformed);
    return;
  }
  if (const auto repeated = repeated_gate_header(request.headers)) {
    answer_bad_request(state, request, stream, "the request has more than one " + *repeated + " header");
    return;
  }
  const PeerAccess access = decide_peer_access(request, state.token);
  if (!access.allowed) {
    answer_unauthorised(state, request, stream, access.why);
    return;
  }
  // A preflight shows nobody at work: any page may send one.
  if (request.method == "OPTIONS") {
    send_preflight(stream);
    return;
  }
  // The route table notes the activity itself: a request the gate refuses does not count.
  dispatch(state, request, stream, access.token);
}

}  // namespace loomdeck
