#include "main/mcp_protocol.h"

#include <string>

#include "core/text.h"
#include "core/version.h"
#include "main/mcp_tools.h"

namespace loomdeck {

namespace {

constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;

constexpr const char* kInstructions =
    "loomdeck is the live dashboard of Fusion on the user's desktop machines (boxes). These tools drive its server "
    "on loopback, which is started in the background when none runs. Every reply carries a _hint naming the next "
    "step. To follow a box live instead of polling, run `loomdeck watch` in a shell: one JSON line per event.";

json answer(const json& id, json result) { return json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}}; }

json error_answer(const json& id, int code, std::string message) {
  return json{{"jsonrpc", "2.0"}, {"id", id}, {"error", json{{"code", code}, {"message", std::move(message)}}}};
}

json call_tool(const json& id, const json& params, const McpToolRunner& run_tool) {
  const std::string name = string_member(params, "name");
  if (!is_mcp_tool(name)) return error_answer(id, kInvalidParams, "Unknown tool: " + name);
  const json* arguments = member(params, "arguments");
  if (arguments && !arguments->is_null() && !arguments->is_object()) {
    return error_answer(id, kInvalidParams, "arguments must be an object");
  }
  return answer(id, run_tool(name, arguments && arguments->is_object() ? *arguments : json::object()));
}

}  // namespace

std::string_view negotiated_protocol_version(const json& requested) {
  for (const std::string_view version : kMcpProtocolVersions) {
    if (requested.is_string() && requested.get<std::string>() == version) return version;
  }
  return kMcpProtocolVersions[0];
}

std::optional<json> mcp_reply(std::string_view line, const McpToolRunner& run_tool) {
  if (trim(line).empty()) return std::nullopt;
  const std::optional<json> message = parse_json(line);
  if (!message) return error_answer(nullptr, kParseError, "Parse error");
  if (!message->is_object()) return error_answer(nullptr, kInvalidRequest, "Invalid Request");
  const json* method = member(*message, "method");
  const json* id = member(*message, "id");
  // Without a method it is the client's answer to a request of ours; we send none.
  if (!method && (member(*message, "result") || member(*message, "error"))) return std::nullopt;
  // A notification is never answered, not even an unknown or malformed one.
  if (!id && method && method->is_string()) return std::nullopt;
  const bool id_usable = id && (id->is_string() || id->is_number_integer());
  if (!id_usable || !method || !method->is_string() || string_member(*message, "jsonrpc") != "2.0") {
    return error_answer(id_usable ? *id : json(nullptr), kInvalidRequest, "Invalid Request");
  }
  const std::string name = method->get<std::string>();
  const json params = member_or_null(*message, "params");
  if (name == "initialize") {
    return answer(*id, json{{"protocolVersion", negotiated_protocol_version(member_or_null(params, "protocolVersion"))},
                            {"capabilities", json{{"tools", json::object()}}},
                            {"serverInfo", json{{"name", "loomdeck"}, {"version", LOOMDECK_VERSION}}},
                            {"instructions", kInstructions}});
  }
  if (name == "ping") return answer(*id, json::object());
  if (name == "tools/list") return answer(*id, json{{"tools", mcp_tool_list()}});
  if (name == "tools/call") return call_tool(*id, params, run_tool);
  return error_answer(*id, kMethodNotFound, "Method not found: " + name);
}

}  // namespace loomdeck
