#include "tools.h"

#include <algorithm>
#include <cctype>

#include "model.h"
#include "ops.h"
#include "tool_kit.h"

namespace sim {

namespace {

const std::vector<const ToolDef*>& registry() {
  static const std::vector<const ToolDef*> all = [] {
    std::vector<const ToolDef*> defs;
    for (const auto* group : {&fusion_tools(), &account_tools(), &parts_tools(), &tour_tools()})
      for (const auto& def : *group) defs.push_back(&def);
    return defs;
  }();
  return all;
}

const ToolDef* find_tool(const std::string& name) {
  for (const auto* def : registry())
    if (name == def->name) return def;
  return nullptr;
}

// Wrapped tools carry their payload in `data`; a failure also shows `ok` false and the error on top.
json shape(const ToolDef& def, json body) {
  if (!def.wrapped || !body.is_object()) return body;
  json out = {{"ok", !body.contains("error")}, {"data", body}};
  if (body.contains("error")) out["error"] = body["error"];
  if (body.contains("_hint")) out["_hint"] = body["_hint"];
  return out;
}

}  // namespace

json bridge_error(const std::string& error, const std::string& hint) { return {{"error", error}, {"_hint", hint}}; }

bool tool_known(const std::string& tool) { return find_tool(tool) != nullptr; }

bool tool_needs_all_boxes(const std::string& tool) {
  const ToolDef* def = find_tool(tool);
  return def && def->all_boxes;
}

std::vector<std::string> tool_names() {
  std::vector<std::string> names;
  for (const auto* def : registry()) names.push_back(def->name);
  std::sort(names.begin(), names.end());
  return names;
}

Outcome run_tool(const std::string& tool, const json& args, const std::string& target, Boxes& boxes,
                 const CallEnv& env) {
  const int64_t now_ms = env.now_ms;
  const ToolDef* def = find_tool(tool);
  if (!def) return {{bridge_error("unknown tool " + tool, "ovra-bridge tools lists every verb the bridge serves."), 1}, {}};
  for (auto& [name, b] : boxes) advance(b, now_ms);
  Box& box = boxes.at(target);
  ++box.calls;
  if (!box.bridge_responsive)
    return {{bridge_error(target + "'s bridge did not answer within 20s (busy running a long verb?)",
                          "The add-in is occupied; retry in a moment, or read fusion_readiness alone."),
             1},
            {}};
  json call_args = args.is_null() ? json::object() : args;
  if (!call_args.is_object())
    return {{bridge_error(tool + " takes one JSON object as its arguments", "Pass e.g. '{}'."), 1}, {}};
  ToolCtx ctx{box, target, call_args, now_ms, boxes, env};
  Outcome out = def->fn(ctx);
  out.answer.body = shape(*def, std::move(out.answer.body));
  return out;
}

Answer collect(const std::string& tool, const Box& box, const Pending& pending) {
  const ToolDef* def = find_tool(tool);
  json body;
  if (auto answer = op_answer(box, pending.op_id)) {
    body = *answer;
  } else if (op_pending(box, pending.op_id)) {
    body = {{"success", false},
            {"error", tool + " timed out after " + std::to_string(static_cast<int64_t>(pending.relay_window_seconds)) +
                          "s in the relay window - the add-in is still working on it"},
            {"_hint", "The verb keeps running inside Fusion: poll fusion_state until mainThreadBusy clears."}};
  } else {
    body = {{"success", false}, {"error", tool + " was interrupted before it finished"}};
  }
  return {def ? shape(*def, std::move(body)) : body, 0};
}

json complete_op(Box& box, const Op& op, int64_t at_ms) {
  const ToolDef* def = find_tool(op.verb);
  if (def && def->complete) return def->complete(box, op, at_ms);
  return {{"success", true}};
}

Outcome reply(json body) { return {{std::move(body), 0}, {}}; }

Outcome wait_for_op(ToolCtx& ctx, const std::string& verb, double seconds, bool main_thread) {
  int64_t until = ctx.now_ms + seconds_to_ms(seconds);
  std::string id = add_op(ctx.box, verb, ctx.args, until, main_thread);
  int64_t relay_end = ctx.now_ms + seconds_to_ms(ctx.box.relay_window_seconds);
  return {{json::object(), 0}, Pending{id, verb, std::min(until, relay_end), ctx.box.relay_window_seconds}};
}

std::optional<json> addin_unavailable(const Box& box, const std::string& target) {
  if (!box.running)
    return json{{"success", false},
                {"error", "Fusion is not running on " + target},
                {"_hint", "fusion_start launches it in the background; retry once fusion_readiness says ready."}};
  if (box.needs_signin)
    return json{{"success", false},
                {"error", "Fusion is waiting at the Autodesk sign-in on " + target},
                {"_hint", "fusion_signin drives the sign-in wall to the password step."}};
  if (box.addin_silent)
    return json{{"success", false},
                {"error", "the bridge add-in is not responding on " + target},
                {"_hint", "Restart Fusion (fusion_stop, fusion_kill, fusion_start) to load the add-in."}};
  return std::nullopt;
}

std::optional<json> main_thread_taken(const Box& box) {
  if (auto busy = main_thread_busy(box))
    return json{{"success", false},
                {"errorCode", "main_thread_busy"},
                {"error", "main thread busy: " + *busy + " is in progress from another caller"},
                {"_hint", "Wait until fusion_state shows no mainThreadBusy, then retry."}};
  return std::nullopt;
}

std::optional<json> cannot_take_verb(const Box& box, const std::string& target) {
  if (auto refusal = addin_unavailable(box, target)) return refusal;
  if (auto refusal = main_thread_taken(box)) return refusal;
  if (!box.blocking_dialogs.empty())
    return json{{"success", false},
                {"error", "a blocking dialog is open in Fusion: " + box.blocking_dialogs.front()},
                {"_hint", "fusion_dismiss_blocking_dialogs clears it."}};
  return std::nullopt;
}

std::string base_name(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string stem(const std::string& path) {
  std::string name = base_name(path);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

bool contains_test_marker(const std::string& name) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower.find("ovra-test") != std::string::npos;
}

}  // namespace sim
