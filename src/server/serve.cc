#include "server/serve.h"

#include "http/listener.h"
#include "server/answer.h"

namespace loomdeck {

void serve(int listen_fd, const std::shared_ptr<ServerState>& state) {
  accept_loop(listen_fd, [state](const Request& request, Stream& stream) { answer_request(*state, request, stream); });
}

}  // namespace loomdeck
