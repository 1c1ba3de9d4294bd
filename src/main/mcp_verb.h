#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string_view>
#include <utility>

#include "core/json_text.h"
#include "http/byte_source.h"
#include "main/command_line.h"
#include "main/mcp_protocol.h"
#include "main/print_url.h"

namespace loomdeck {

// The longest message line the MCP client may send; a longer one ends the session.
inline constexpr std::size_t kMaxMcpLine = 16u << 20;

// Runs the tools of `loomdeck mcp` against the running server on loopback: the one on --port,
// else the first of the range answering with this program's version; when none answers, one is
// started in the background as `serve --print-url` does. Notes which server it uses on
// `diagnostics`.
class McpBackend {
 public:
  McpBackend(CommandLine cli, LauncherSeams& seams, std::ostream& diagnostics)
      : cli_(std::move(cli)), seams_(seams), diagnostics_(diagnostics) {}

  // The `tools/call` result of one listed tool: the route's reply, or an error object with a
  // `_hint` when the arguments do not fit or no server can be had.
  json call_tool(std::string_view name, const json& arguments);

 private:
  // The port of the server, or the error object saying why there is none.
  std::optional<uint16_t> server_port(json& error);

  const CommandLine cli_;
  LauncherSeams& seams_;
  std::ostream& diagnostics_;
  std::optional<uint16_t> port_;
};

// Answers the client's messages, one JSON line each, until its input ends. Returns the exit
// status: 0 at the end of input or once the client stops reading, 1 after an overlong line.
int serve_mcp(ByteSource& in, std::ostream& out, std::ostream& diagnostics, const McpToolRunner& run_tool);

// `loomdeck mcp [--port <port>]` on standard input and output; diagnostics on standard error.
int run_mcp(const CommandLine& cli);

}  // namespace loomdeck
