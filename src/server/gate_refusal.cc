#include "server/gate_refusal.h"

#include "core/utf8.h"
#include "http/response.h"

namespace loomdeck {

void answer_refused(ServerState& state, const Request& request, Stream& stream, const GateVerdict& verdict) {
  state.log.append("refused " + request.method + " " + request.path + ": " + verdict.why);
  if (state.blocked_notices.should_announce(verdict.culprit, state.clock.now())) {
    toast(state.sink, blocked_notice_text(verdict.culprit, request.path), "err");
  }
  send_json_uncorsed(
      stream, "403 Forbidden",
      json{{"_hint", kRefusalHint}, {"error", "refused: " + verdict.why}, {"ok", false}, {"why", verdict.why}});
}

void answer_bad_request(ServerState& state, const Request& request, Stream& stream, const std::string& why) {
  state.log.append("bad request " + request.method + " " + request.path + ": " + why);
  send_json_uncorsed(stream, "400 Bad Request",
                     json{{"_hint",
                           "Send one request with one Host, Origin and Sec-Fetch-Site header at most, and "
                           "a body framed by one plain Content-Length."},
                          {"ok", false},
                          {"why", why}});
}

void answer_unauthorised(ServerState& state, const Request& request, Stream& stream, const std::string& why) {
  const std::string peer = request.peer.text.empty() ? "an unknown address" : request.peer.text;
  state.log.append("refused " + request.method + " " + request.path + " from " + peer + ": " + why);
  if (state.peer_notices.should_announce(peer, state.clock.now())) {
    toast(state.sink,
          "Refused a request from " + peer + " to " + utf8_prefix(lenient_utf8(request.path), 200) +
              " - a machine on the network tried to use this dashboard without its token",
          "err");
  }
  send_json_uncorsed(stream, "401 Unauthorized",
                     json{{"_hint", kTokenHint}, {"error", "refused: " + why}, {"ok", false}, {"why", why}});
}

}  // namespace loomdeck
