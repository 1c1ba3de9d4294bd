#pragma once

#include <string>

#include "http/exchange.h"

namespace loomdeck {

struct ActionRequest {
  std::string action;
  std::string box;
  std::string args;  // compact JSON text, "null" when absent
};

// Runs one action verb on the box and returns the reply (for most verbs the bridge's own result).
json run_action(ServerState& state, const ActionRequest& request);

// POST /api/action and POST /api/auto-green.
void handle_action(Exchange& ex);
void handle_auto_green(Exchange& ex);

}  // namespace loomdeck
