#pragma once

#include <functional>
#include <string>

#include "actions/action_context.h"
#include "http/request.h"
#include "http/stream.h"

namespace loomdeck {

struct ActionRequest {
  std::string action;
  std::string box;
  std::string args;  // compact JSON text, "null" when absent
};

// The wiki part import that the `import_basic_part` verb runs once the box is ready: (box,
// argument text) -> reply.
using ImportPart = std::function<json(const std::string& box, const std::string& args_text)>;

// What the action verbs work with: the launch procedures' context and the part import.
struct DispatchContext : ActionContext {
  ImportPart import_part;
};

// Runs one action verb on the box and returns the reply (for most verbs the bridge's own result).
json run_action(const DispatchContext& ctx, const ActionRequest& request);

// POST /api/action
void handle_action(const DispatchContext& ctx, const Request& request, Stream& stream);

// POST /api/auto-green
void handle_auto_green(const ActionContext& ctx, const Request& request, Stream& stream);

}  // namespace loomdeck
