#include "main/mcp_verb.h"

#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>
#include <variant>

#include "main/discovery.h"
#include "main/mcp_tools.h"
#include "main/ui_verb.h"

namespace loomdeck {

namespace {

// Reads a file descriptor as it is (standard input).
class FdSource : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  ssize_t read(char* buf, std::size_t n) override {
    for (;;) {
      const ssize_t got = ::read(fd_, buf, n);
      if (got >= 0 || errno != EINTR) return got;
    }
  }

 private:
  int fd_;
};

std::string where_looked(std::optional<uint16_t> port) { return port ? "port " + std::to_string(*port) : "8930-8940"; }

}  // namespace

std::optional<uint16_t> McpBackend::server_port(json& error) {
  // A server found before is asked again first: it may have retired or been restarted elsewhere.
  if (port_ && find_own_server(seams_.runner, port_)) return port_;
  port_.reset();
  const ServerLaunch launch = ensure_server(cli_, seams_, cli_.port);
  if (!launch.port) {
    error = json{{"error", "no loomdeck server answering on " + where_looked(cli_.port) +
                               ", and none could be started: " + launch.error},
                 {"_hint", launch.hint + " Or start one yourself: `loomdeck serve --print-url`."}};
    return std::nullopt;
  }
  port_ = launch.port;
  diagnostics_ << "loomdeck mcp: " << (launch.reused ? "using the server on port " : "started a server on port ")
               << *port_ << '\n'
               << std::flush;
  return port_;
}

json McpBackend::call_tool(std::string_view name, const json& arguments) {
  const std::variant<LoopbackRequest, json> made = request_for_tool(name, arguments);
  if (const json* refused = std::get_if<json>(&made)) return tool_result(*refused);
  const LoopbackRequest& request = std::get<LoopbackRequest>(made);
  json error;
  const std::optional<uint16_t> port = server_port(error);
  if (!port) return tool_result(error);
  const std::optional<json> reply = ui_request(seams_.runner, port, request.path, request.body, request.time_limit);
  if (reply) return tool_result(*reply);
  port_.reset();
  return tool_result(
      json{{"error", "the loomdeck server on port " + std::to_string(*port) + " did not answer " + std::string(name) +
                         " within " + std::to_string(request.time_limit.count()) + "s"},
           {"_hint",
            "It may have stopped or been restarted: call the tool again to find or start a "
            "server, and read the console tool for what the server was doing."}});
}

int serve_mcp(ByteSource& in, std::ostream& out, std::ostream& diagnostics, const McpToolRunner& run_tool) {
  LineReader reader(in);
  std::string line;
  for (;;) {
    const LineStatus status = reader.read_line(line, kMaxMcpLine);
    if (status == LineStatus::kEnd || status == LineStatus::kError) return 0;
    if (status == LineStatus::kTooLong) {
      diagnostics << "loomdeck mcp: a message longer than " << kMaxMcpLine << " bytes - ending the session\n"
                  << std::flush;
      return 1;
    }
    const std::optional<json> reply = mcp_reply(line, run_tool);
    if (!reply) continue;
    out << dump_compact(*reply) << '\n' << std::flush;
    if (!out) return 0;
  }
}

int run_mcp(const CommandLine& cli) {
  LauncherSeams seams = system_launcher_seams();
  McpBackend backend(cli, seams, std::cerr);
  FdSource in(STDIN_FILENO);
  return serve_mcp(in, std::cout, std::cerr,
                   [&](std::string_view name, const json& arguments) { return backend.call_tool(name, arguments); });
}

}  // namespace loomdeck
