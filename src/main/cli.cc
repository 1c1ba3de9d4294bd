#include "main/cli.h"

#include <iostream>

#include "core/version.h"
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
    "  open [--pup (default) | --webview] [--target <box>]     put the Dashboard on a surface (pup = background "
    "window)\n"
    "  health                                                  liveness\n"
    "  (global: --ai-thread <name> attributes bridge calls in the Activity Log)\n"
    "Hint: `loomdeck serve --print-url` is the Brindle dock launch step.\n";

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
