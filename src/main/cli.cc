#include "main/cli.h"

#include <iostream>

#include "core/box_name.h"
#include "core/version.h"
#include "core/text.h"
#include "main/dashboard_url.h"
#include "main/mcp_verb.h"
#include "main/open_verb.h"
#include "main/ui_verb.h"
#include "main/verb_help.h"
#include "main/verbs.h"
#include "main/watch_verb.h"

namespace loomdeck {

const std::string kUsageText =
    std::string("loomdeck v") + LOOMDECK_VERSION +
    " - the gantry's Launch Page\n"
    "  serve [--port 8930] [--target <box>] [--print-url]      serve the Dashboard (SSE live channel included)\n"
    "  status [--target <box>]                                 one-shot LED JSON\n"
    "  ui toast \"msg\" [--kind ok|err|info] [--port]            narrate a toast over the running app\n"
    "  ui click <setup|start|stop|tour|import-part|settings|refresh>   drive the real UI\n"
    "  ui state | ui console                                   observe the running app\n"
    "  mcp [--port <port>]                                     the running app's tools for AI agents (MCP over stdio)\n"
    "  watch [--target <box>] [--events state,progress,toast,click,logbook]   one JSON line per live event\n"
    "  open [--pup (default) | --webview] [--target <box>]     put the Dashboard on a surface (pup = background window)\n"
    "  health                                                  liveness\n"
    "  (global: --ai-thread <name> attributes bridge calls in the Activity Log)\n"
    "Hint: `loomdeck serve --print-url` is the Brindle dock launch step.\n";

std::optional<std::string> option_value(const std::vector<std::string>& args, std::string_view name) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      if (i + 1 < args.size()) return args[i + 1];
      return std::nullopt;
    }
  }
  return std::nullopt;
}

bool has_flag(const std::vector<std::string>& args, std::string_view name) {
  for (const std::string& a : args) {
    if (a == name) return true;
  }
  return false;
}

std::optional<uint16_t> parse_port(std::string_view text) {
  const auto value = parse_unsigned(text);
  if (!value || *value > 65535) return std::nullopt;
  return static_cast<uint16_t>(*value);
}

CommandLine parse_command_line(std::vector<std::string> args) {
  CommandLine cli;
  cli.verb = args.size() > 1 ? args[1] : "help";
  cli.attribution = option_value(args, "--ai-thread").value_or("loomdeck");
  if (const auto p = option_value(args, "--port")) cli.port = parse_port(*p);
  cli.args = std::move(args);
  return cli;
}

bool target_option_usable(const std::vector<std::string>& args) {
  const std::optional<std::string> target = option_value(args, "--target");
  const std::optional<std::string> problem = target ? box_name_problem(*target) : std::nullopt;
  if (problem) fail(*problem, "Name a box as `ovra-bridge targets` lists it.");
  return !problem;
}

void say_ok(std::string_view text) { std::cout << "OK: " << text << '\n' << std::flush; }

void fail(std::string_view message, std::string_view hint) {
  std::cerr << "ERROR: " << message << '\n' << "Hint: " << hint << '\n' << std::flush;
}

int run_command_line(const CommandLine& cli) {
  if (asks_for_help(cli)) {
    if (const std::optional<std::string_view> help = verb_help(cli.verb)) {
      std::cout << *help << std::flush;
      return 0;
    }
  }
  if (cli.verb == "serve") return run_serve(cli);
  if (cli.verb == "status") return run_status(cli);
  if (cli.verb == "ui") return run_ui(cli, system_runner());
  if (cli.verb == "mcp") return run_mcp(cli);
  if (cli.verb == "watch") return run_watch(cli);
  if (cli.verb == "open") return run_open(cli, system_runner(), proxy_template_from_env());
  if (cli.verb == "health") {
    say_ok(std::string("loomdeck v") + LOOMDECK_VERSION);
    return 0;
  }
  std::cout << kUsageText << std::flush;
  return 0;
}

}  // namespace loomdeck
