#include "main/verb_help.h"

#include <algorithm>
#include <array>
#include <utility>

namespace loomdeck {

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 7> kHelp = {{
    {"serve",
     "usage: loomdeck serve [--port 8930] [--target <box>] [--bind <address>] [--print-url]\n"
     "Serves the dashboard and its live channel on the first free port from 8930 (or --port) until stopped.\n"
     "  --target <box>     the box the pages show first\n"
     "  --bind <address>   the address to listen on (LOOMDECK_BIND; default 0.0.0.0)\n"
     "  --print-url        start the server in the background, print the dashboard's address and exit\n"},
    {"status",
     "usage: loomdeck status [--target <box>]\n"
     "Prints one snapshot of the box's seven LEDs as JSON, computed on the spot through ovra-bridge.\n"},
    {"ui",
     "usage: loomdeck ui toast \"msg\" [--kind ok|err|info] [--port <port>]\n"
     "       loomdeck ui click <setup|start|stop|tour|import-part|settings|refresh> [--port <port>]\n"
     "       loomdeck ui state | ui console [--port <port>]\n"
     "Drives and observes the running dashboard: a toast on every open page, a click on a control, its state or "
     "log.\n"},
    {"mcp",
     "usage: loomdeck mcp [--port <port>]\n"
     "Offers the running dashboard's tools to an AI agent over standard input and output (MCP).\n"},
    {"watch",
     "usage: loomdeck watch [--target <box>] [--events state,progress,toast,click,logbook] [--port <port>]\n"
     "Prints one JSON line per live event of the running dashboard until stopped.\n"},
    {"open",
     "usage: loomdeck open [--pup (default) | --webview] [--target <box>]\n"
     "Puts the dashboard on a surface: a background window (--pup) or the editor's webview (--webview).\n"},
    {"health",
     "usage: loomdeck health\n"
     "Prints the version and exits 0.\n"},
}};

}  // namespace

bool asks_for_help(const CommandLine& cli) {
  // The value of an option is the user's text, not a flag: `status --target -h` names a box.
  constexpr std::array<std::string_view, 6> kTakeAValue = {"--ai-thread", "--bind", "--events",
                                                           "--kind",      "--port", "--target"};
  for (std::size_t i = 2; i < cli.args.size(); ++i) {
    if (std::find(kTakeAValue.begin(), kTakeAValue.end(), cli.args[i - 1]) != kTakeAValue.end()) continue;
    if (cli.args[i] == "-h" || cli.args[i] == "--help") return true;
  }
  return false;
}

std::optional<std::string_view> verb_help(std::string_view verb) {
  for (const auto& [name, text] : kHelp) {
    if (name == verb) return text;
  }
  return std::nullopt;
}

}  // namespace loomdeck
