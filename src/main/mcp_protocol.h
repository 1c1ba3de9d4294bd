#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "core/json_text.h"

namespace loomdeck {

// The protocol versions `loomdeck mcp` speaks, newest first.
inline constexpr std::string_view kMcpProtocolVersions[] = {"2025-06-18", "2025-03-26", "2024-11-05"};

// The version the client asked for when it is one of those, else the newest.
std::string_view negotiated_protocol_version(const json& requested);

// Runs one listed tool with its arguments (an object) and gives the `tools/call` result.
using McpToolRunner = std::function<json(std::string_view name, const json& arguments)>;

// The JSON-RPC 2.0 answer to one line the client sent, or nothing: notifications, the client's
// own responses and blank lines get none. A line that is not JSON is answered -32700, a message
// that is not a request -32600, an unknown method -32601, a call of an unknown tool or with
// arguments that are not an object -32602.
std::optional<json> mcp_reply(std::string_view line, const McpToolRunner& run_tool);

}  // namespace loomdeck
