#pragma once

#include <memory>

#include "server/server_state.h"

namespace loomdeck {

// Serves on the bound listener for ever: every connection's request goes through the gate and
// the route table with the shared state.
[[noreturn]] void serve(int listen_fd, const std::shared_ptr<ServerState>& state);

}  // namespace loomdeck
