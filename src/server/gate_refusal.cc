#include "server/gate_refusal.h"

#include "http/response.h"

namespace loomdeck {

void answer_refused(ServerState& state, const Request& request, Stream& stream, const GateVerdict& verdict) {
  state.log.append("refused " + request.method + " " + request.path + ": " + verdict.why);
  if (state.blocked_notices.should_announce(verdict.culprit, state.clock.now())) {
    toast(state.sink, blocked_notice_text(verdict.culprit, request.path), "err");
  }
  send_json_uncorsed(stream, "403 Forbidden",
                     json{{"_hint", kRefusalHint},
                          {"error", "refused: " + verdict.why},
                          {"ok", false},
                          {"why", verdict.why}});
}

}  // namespace loomdeck
