#include "bridge/bridge.h"

#include "core/box_name.h"
#include "core/utf8.h"

namespace loomdeck {

json bridge_result_from_process(const ProcessResult& result) {
  if (!result.started) {
    return json{{"error", "ovra-bridge CLI not runnable: " + result.error_text},
                {"_hint", "The container needs the ovra-bridge CLI on PATH (it ships with every Ovra container)."}};
  }
  if (!result.out_truncated) {
    if (auto parsed = parse_json(result.out)) return std::move(*parsed);
  }
  return json{{"error", utf8_prefix(lenient_utf8(std::string_view(result.out).substr(0, 1024)), 200)}};
}

json run_bridge_tool(ProcessRunner& runner, const std::string& attribution, const std::string& box,
                     const std::string& tool, const std::string& args) {
  ProcessOptions options;
  options.stderr_mode = OutputMode::kDiscard;
  options.capture_limit = kBridgeOutputLimit;
  return bridge_result_from_process(
      runner.run({"ovra-bridge", "--target", box, "--ai-thread", attribution, tool, args}, options));
}

json unwrap_bridge_data(const json& result) {
  const json* data = member(result, "data");
  if (data && data->is_object() && !data->empty()) return *data;
  return result;
}

bool bridge_call_ok(const json& result, const json& data) {
  if (is_true(result, "success") || is_true(data, "success")) return true;
  if (is_false(result, "success") || is_false(data, "success")) return false;
  const std::string error = string_member(result, "error");
  const bool no_error = error.empty();
  if (string_member(result, "status") == "ok") return no_error;
  return no_error && data.is_object() && !data.empty();
}

json ProcessBridge::call(const std::string& attribution, const std::string& box, const std::string& tool,
                         const std::string& args) {
  // Box names from the bridge's own listing pass here too, so none can become an option.
  if (const std::optional<std::string> problem = box_name_problem(box)) return box_name_refusal(*problem);
  return run_bridge_tool(runner_, attribution, box, tool, args);
}

std::optional<json> ProcessBridge::targets() {
  ProcessOptions options;
  options.stderr_mode = OutputMode::kDiscard;
  options.capture_limit = kBridgeOutputLimit;
  const ProcessResult r = runner_.run({"ovra-bridge", "targets"}, options);
  if (!r.started || r.out_truncated) return std::nullopt;
  return parse_json(r.out);
}

}  // namespace loomdeck
