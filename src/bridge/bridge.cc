#include "bridge/bridge.h"

#include <cctype>

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

namespace {

std::string limit_text(std::chrono::milliseconds limit) {
  const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(limit).count();
  if (seconds >= 120 && seconds % 60 == 0) return std::to_string(seconds / 60) + " minutes";
  return std::to_string(seconds) + "s";
}

// The box name as one shell word, quoted when it holds anything but plain name characters.
std::string shell_word(const std::string& text) {
  bool plain = !text.empty();
  for (const unsigned char c : text) plain = plain && (std::isalnum(c) || c == '.' || c == '_' || c == '-');
  if (plain) return text;
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

ProcessOptions bridge_options(std::chrono::milliseconds time_limit) {
  ProcessOptions options;
  options.stderr_mode = OutputMode::kDiscard;
  options.capture_limit = kBridgeOutputLimit;
  options.time_limit = time_limit;
  return options;
}

}  // namespace

std::chrono::milliseconds bridge_time_limit(std::string_view tool, std::string_view args) {
  if (args != "{}") return kBridgeCallTimeLimit;
  for (const BridgeTool& known : kBridgeTools) {
    if (known.probe && tool == known.wire) return kProbeTimeLimit;
  }
  return kBridgeCallTimeLimit;
}

json bridge_timeout_error(const std::string& tool, const std::string& box, std::chrono::milliseconds limit) {
  const std::string check = box.empty() ? "loomdeck status" : "loomdeck status --target " + shell_word(box);
  return json{{"error", "ovra-bridge did not answer " + tool + " on " + (box.empty() ? "the default box" : box) +
                            " within " + limit_text(limit) + "; the call was stopped"},
              {"_hint", "The box or its bridge is not responding (a desktop asleep, a stuck relay?). Check it with `" +
                            check + "` and retry once it answers."}};
}

json bridge_arguments_too_long(const std::string& tool, std::size_t bytes) {
  return json{{"error", "the arguments of " + tool + " are " + std::to_string(bytes) +
                            " bytes; the bridge takes at most " + std::to_string(kArgumentLimit) +
                            " on its command line"},
              {"_hint",
               "Send less: put large content in a file on the box (send_files copies container files there) "
               "and pass its path instead."}};
}

json run_bridge_tool(ProcessRunner& runner, const std::string& attribution, const std::string& box,
                     const std::string& tool, const std::string& args, LargeAnswerPermits* permits) {
  // The text goes to the bridge as one argument; one the kernel would refuse is refused here.
  if (!fits_one_argument(args)) return bridge_arguments_too_long(tool, args.size());
  const ProcessOptions options = bridge_options(bridge_time_limit(tool, args));
  const ProcessResult r = runner.run({"ovra-bridge", "--target", box, "--ai-thread", attribution, tool, args}, options);
  if (r.timed_out) return bridge_timeout_error(tool, box, options.time_limit);
  if (!permits || r.out.size() < kLargeAnswerBytes) return bridge_result_from_process(r);
  permits->acquire();
  struct Release {
    LargeAnswerPermits& permits;
    ~Release() { permits.release(); }
  } release{*permits};
  return bridge_result_from_process(r);
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
  return run_bridge_tool(runner_, attribution, box, tool, args, &large_answers_);
}

std::optional<json> ProcessBridge::targets() {
  const ProcessResult r = runner_.run({"ovra-bridge", "targets"}, bridge_options(kProbeTimeLimit));
  if (!r.started || r.out_truncated || r.timed_out) return std::nullopt;
  return parse_json(r.out);
}

}  // namespace loomdeck
