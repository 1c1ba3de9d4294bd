#include "main/open_verb.h"

#include <iostream>

#include "core/json_text.h"
#include "core/utf8.h"
#include "main/dashboard_url.h"
#include "main/discovery.h"

namespace loomdeck {

std::optional<uint16_t> find_serving_port(ProcessRunner& runner) { return find_loomdeck_server(runner, std::nullopt); }

std::vector<std::string> pup_open_window_command(const std::optional<std::string>& target,
                                                 const std::string& attribution, const std::string& url) {
  std::vector<std::string> argv = {"ovra-bridge"};
  if (target) argv.insert(argv.end(), {"--target", *target});
  argv.insert(argv.end(),
              {"--ai-thread", attribution, "pup_open_window", dump_compact(json{{"background", true}, {"url", url}})});
  return argv;
}

int run_open(const CommandLine& cli, ProcessRunner& runner, const std::optional<std::string>& proxy_template) {
  const std::optional<uint16_t> port = find_serving_port(runner);
  if (!port) {
    fail("no loomdeck server is running", "Start it first: `loomdeck serve &`, then re-run open.");
    return 1;
  }
  const std::string url = proxied_or_local_url(*port, proxy_template);
  if (has_flag(cli.args, "--webview")) {
    say_ok("Dashboard is serving at " + url);
    std::cout << "Hint: to place it in a Brindle webview tab, load the `webview` skill (ovra-workspace-control) and "
                 "add a tab for that URL - panel selection is the AI's call, never this CLI's.\n"
              << std::flush;
    return 0;
  }
  if (!target_option_usable(cli.args)) return 1;
  ProcessOptions options;
  options.stderr_mode = OutputMode::kDiscard;
  const ProcessResult r =
      runner.run(pup_open_window_command(option_value(cli.args, "--target"), cli.attribution, url), options);
  if (!r.started) {
    fail("ovra-bridge not runnable: " + r.error_text, "The container ships ovra-bridge on PATH.");
    return 0;
  }
  const std::string out = lenient_utf8(r.out);
  if (out.find("\"status\": \"ok\"") != std::string::npos || out.find("\"status\":\"ok\"") != std::string::npos) {
    say_ok("Dashboard opened in a BACKGROUND pup window at " + url +
           " (taskbar flashes; the user brings it up when ready - never foregrounded)");
  } else {
    fail("pup_open_window did not confirm: " + utf8_prefix(out, 200),
         "Is a desktop connected? `ovra-bridge targets`. The URL above still works in any browser.");
  }
  return 0;
}

}  // namespace loomdeck
