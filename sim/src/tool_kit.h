// What the tool implementations share: their calling context, the registry entry and the
// preconditions most Fusion verbs check.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools.h"

namespace sim {

struct ToolCtx {
  Box& box;
  const std::string& target;
  const json& args;  // always an object
  int64_t now_ms;
  Boxes& boxes;
  const CallEnv& env;
};

using ToolFn = Outcome (*)(ToolCtx&);
// Applies a timed verb's effect when it completes and returns the answer its caller prints.
using CompleteFn = json (*)(Box&, const Op&, int64_t at_ms);

struct ToolDef {
  const char* name;
  ToolFn fn;
  bool wrapped;    // the answer travels as {"ok":..., "data": {...}}
  bool all_boxes;  // the tool may touch other boxes
  CompleteFn complete = nullptr;
};

const std::vector<ToolDef>& fusion_tools();
const std::vector<ToolDef>& account_tools();
const std::vector<ToolDef>& parts_tools();
const std::vector<ToolDef>& tour_tools();

Outcome reply(json body);
// Registers a timed verb and tells the caller to wait for it.
Outcome wait_for_op(ToolCtx& ctx, const std::string& verb, double seconds, bool main_thread);

// The refusal a Fusion verb gives when Fusion or its add-in cannot take work now, or nullopt.
std::optional<json> addin_unavailable(const Box& box, const std::string& target);
std::optional<json> main_thread_taken(const Box& box);
// addin_unavailable, then main_thread_taken, then the blocking dialogs.
std::optional<json> cannot_take_verb(const Box& box, const std::string& target);

std::string base_name(const std::string& path);
// The file name without its last extension.
std::string stem(const std::string& path);
bool contains_test_marker(const std::string& name);

}  // namespace sim
