#include "workspace/control_proxy.h"

#include <fstream>

#include "core/private_folder.h"
#include "core/text.h"
#include "http/response.h"
#include "workspace/control_address.h"

namespace loomdeck {

namespace {

constexpr std::string_view kThreadsUnreachable =
    "Ovra Brindle is not reachable from this workspace (~/.ovra/brindle-control-url missing). The route EXISTS - 503 "
    "means vo is absent, not unwired.";
constexpr std::string_view kUpdaterUnreachable =
    "Ovra Brindle is not reachable from this workspace (~/.ovra/brindle-control-url missing), so the panel cannot "
    "check the version or send. The route EXISTS - a 503 here means vo is absent, not that the proxy was never wired.";

ProxyReply unreachable(std::string_view why) {
  return {"503 Service Unavailable", dump_compact(json{{"ok", false}, {"proxied", true}, {"why", why}})};
}

// Whatever the control API printed goes back as is; silence means it did not answer in time.
ProxyReply pass_through(ProcessRunner& runner, const std::vector<std::string>& command, std::string_view silent_why) {
  ProcessOptions options;
  options.stderr_mode = OutputMode::kDiscard;
  const ProcessResult r = runner.run(command, options);
  if (!r.started || r.out.empty()) return {"200 OK", dump_compact(json{{"ok", false}, {"why", silent_why}})};
  return {"200 OK", r.out};
}

constexpr std::string_view kPromptSilent = "control API did not answer run-prompt within 120s";

void send(Stream& stream, const ProxyReply& reply) { respond(stream, reply.status, "application/json", reply.body); }

}  // namespace

json tag_prompt_body(json body) {
  if (!body.is_object()) return body;
  body.erase("type");
  json tags = json::array();
  const json* given = member(body, "tags");
  if (given && given->is_array()) tags = *given;
  bool tagged = false;
  for (const json& t : tags) tagged = tagged || (t.is_string() && t.get<std::string>() == kPromptTag);
  if (!tagged) tags.push_back(kPromptTag);
  body["tags"] = std::move(tags);
  return body;
}

namespace {

// curl posting JSON to the workspace's run-prompt route, the body given by `data_flag` and `data`.
std::vector<std::string> post_prompt(const std::string& base, const char* data_flag, std::string data) {
  std::vector<std::string> argv = {"curl", "-s", "-m", "120", "-X", "POST", "-H", "Content-Type: application/json"};
  argv.insert(argv.end(), {data_flag, std::move(data), base + "/ai-threads/run-prompt"});
  return argv;
}

}  // namespace

std::vector<std::string> run_prompt_command(const std::string& base, const std::string& body_text) {
  return post_prompt(base, "-d", body_text);
}

std::vector<std::string> run_prompt_file_command(const std::string& base, const std::string& body_file) {
  return post_prompt(base, "--data-binary", "@" + body_file);
}

std::vector<std::string> prompt_status_command(const std::string& base, std::string_view query) {
  std::string url = base + "/ai-threads/run-prompt/status";
  if (query.empty()) return {"curl", "-s", "-m", "8", url};
  url += '?';
  // The query goes on as it came. Bytes a URL cannot hold (controls, spaces, non-ASCII) and "#"
  // (which would cut it short) are percent-escaped, and --globoff keeps curl from expanding
  // "[1-100000000]" or "{a,b}" into a request each.
  url += escape_url_bytes(query);
  return {"curl", "--globoff", "-s", "-m", "8", url};
}

std::vector<std::string> updater_status_command(const std::string& base) {
  return {"curl", "-s", "-m", "8", base + "/updater/status"};
}

ProxyReply proxy_run_prompt(ProcessRunner& runner, const std::optional<std::string>& base, const json& body) {
  if (!base) return unreachable(kThreadsUnreachable);
  const std::string body_text = dump_compact(tag_prompt_body(body));
  if (fits_one_argument(body_text)) return pass_through(runner, run_prompt_command(*base, body_text), kPromptSilent);
  // Too long for the command line (curl would never start): it goes through a private file.
  const PrivateFolder folder("loomdeck-prompt-");
  std::string why = folder.error();
  if (!folder.path().empty()) {
    const std::string file = folder.path() + "/body.json";
    std::ofstream out(file, std::ios::binary);
    out << body_text;
    out.close();
    if (out) return pass_through(runner, run_prompt_file_command(*base, file), kPromptSilent);
    why = "could not write the prompt to " + file;
  }
  return {"200 OK", dump_compact(json{{"ok", false}, {"why", "could not hand the prompt to curl: " + why}})};
}

ProxyReply proxy_prompt_status(ProcessRunner& runner, const std::optional<std::string>& base, std::string_view query) {
  if (!base) return unreachable(kThreadsUnreachable);
  return pass_through(runner, prompt_status_command(*base, query), "control API did not answer run-prompt/status");
}

ProxyReply proxy_updater_status(ProcessRunner& runner, const std::optional<std::string>& base) {
  if (!base) return unreachable(kUpdaterUnreachable);
  return pass_through(runner, updater_status_command(*base), "control API did not answer /updater/status");
}

void handle_run_prompt(ProcessRunner& runner, const Request& request, Stream& stream) {
  send(stream, proxy_run_prompt(runner, read_control_base_url(), request.body));
}

void handle_run_prompt_status(ProcessRunner& runner, const Request& request, Stream& stream) {
  send(stream, proxy_prompt_status(runner, read_control_base_url(), request.query));
}

void handle_updater_status(ProcessRunner& runner, const Request&, Stream& stream) {
  send(stream, proxy_updater_status(runner, read_control_base_url()));
}

}  // namespace loomdeck
