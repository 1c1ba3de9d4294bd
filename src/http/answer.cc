#include "http/answer.h"

#include "http/response.h"
#include "http/routes.h"

namespace loomdeck {

bool counts_as_activity(std::string_view path) { return path != "/events" && path != "/api/ping"; }

void answer_request(ServerState& state, const Request& request, Stream& stream) {
  if (counts_as_activity(request.path)) state.touch();
  if (request.method == "OPTIONS") {
    send_preflight(stream);
  } else {
    dispatch(state, request, stream);
  }
}

}  // namespace loomdeck
