#include "server/answer.h"

#include "http/response.h"
#include "server/routes.h"

namespace loomdeck {

bool counts_as_activity(std::string_view path) { return path != "/events" && path != "/api/ping"; }

void answer_request(ServerState& state, const Request& request, Stream& stream) {
  if (request.method == "OPTIONS") {
    if (counts_as_activity(request.path)) state.touch();
    send_preflight(stream);
  } else {
    // The route table notes the activity itself: a request the gate refuses does not count.
    dispatch(state, request, stream);
  }
}

}  // namespace loomdeck
