#include "main/ui_verb.h"

#include <iostream>

#include "core/utf8.h"
#include "main/discovery.h"

namespace loomdeck {

namespace {

constexpr std::chrono::seconds kCurlGrace{10};

// The word at `index` of the argument vector, empty when the vector is shorter.
std::string word_at(const std::vector<std::string>& args, std::size_t index) {
  return index < args.size() ? args[index] : std::string();
}

}  // namespace

std::vector<std::string> ui_curl_command(uint16_t port, std::string_view path, const std::optional<json>& body,
                                         std::chrono::seconds time_limit) {
  std::vector<std::string> argv = {"curl", "-s", "-m", std::to_string(time_limit.count())};
  if (body) argv.insert(argv.end(), {"-X", "POST", "-H", "Content-Type: application/json", "-d", dump_compact(*body)});
  argv.push_back("http://127.0.0.1:" + std::to_string(port) + std::string(path));
  return argv;
}

std::optional<json> ui_request(ProcessRunner& runner, std::optional<uint16_t> port, std::string_view path,
                               const std::optional<json>& body, std::chrono::seconds time_limit) {
  std::optional<json> reply;
  scan_ports(
      runner, candidate_ports(port),
      [&](uint16_t candidate) { return ui_curl_command(candidate, path, body, time_limit); },
      [&](const ProcessResult& r) {
        if (!r.started || r.exit_code != 0 || r.out.empty()) return PortAnswer::kNext;
        reply = parse_json(lenient_utf8(r.out));
        return reply ? PortAnswer::kFound : PortAnswer::kNext;
      },
      // curl's own limit comes first; this one is for a curl that does not keep it.
      time_limit + kCurlGrace);
  return reply;
}

int run_ui(const CommandLine& cli, ProcessRunner& runner) {
  const std::string sub = word_at(cli.args, 2);
  std::string path;
  std::optional<json> body;
  if (sub == "toast") {
    const std::string message = word_at(cli.args, 3);
    if (message.empty()) {
      fail("ui toast needs a message", "loomdeck ui toast \"running test 3 of 8\"");
      return 1;
    }
    path = "/ui/toast";
    body = json{{"kind", option_value(cli.args, "--kind").value_or("info")}, {"message", message}};
  } else if (sub == "click") {
    const std::string target = word_at(cli.args, 3);
    if (target.empty()) {
      fail("ui click needs a target",
           "loomdeck ui click tour   (targets: setup, start, stop, tour, import-part, settings, refresh)");
      return 1;
    }
    path = "/ui/click";
    body = json{{"target", target}};
  } else if (sub == "state") {
    path = "/state";
  } else if (sub == "console") {
    path = "/console";
  } else {
    fail("unknown ui verb", "ui toast \"msg\" [--kind ok|err|info] | ui click <target> | ui state | ui console");
    return 1;
  }
  // Only a port that says it is loomdeck hears the request.
  const std::optional<uint16_t> server = find_loomdeck_server(runner, cli.port);
  const std::optional<json> reply = server ? ui_request(runner, server, path, body) : std::nullopt;
  if (!reply) {
    fail(kNoServerAnswering, "Start it first: `loomdeck serve &`");
    return 1;
  }
  say_ok(dump_compact(*reply));
  return 0;
}

}  // namespace loomdeck
