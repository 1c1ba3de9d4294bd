#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "bridge/bridge.h"
#include "core/child_guard.h"
#include "core/clock.h"
#include "core/process.h"
#include "core/user_home.h"
#include "core/version.h"
#include "http/listener.h"
#include "logbook/logbook_file.h"
#include "main/dashboard_url.h"
#include "main/dock_webview.h"
#include "main/idle_supervisor.h"
#include "main/print_url.h"
#include "main/verbs.h"
#include "server/access_token.h"
#include "server/page_policy.h"
#include "server/serve.h"
#include "server/server_state.h"
#include "settings/settings.h"

namespace loomdeck {

std::string bind_address(const CommandLine& cli) {
  if (has_flag(cli.args, "--bind")) return option_value(cli.args, "--bind").value_or("");
  const char* env = std::getenv("LOOMDECK_BIND");
  if (env && *env) return env;
  return kDefaultBindAddress;
}

int run_serve(const CommandLine& cli) {
#ifndef LOOMDECK_SANITIZER_ALLOCATOR
  // A buffer of a megabyte or more (a large bridge answer) is mapped on its own and goes back to
  // the system when freed, instead of staying in the arena of whichever thread read it.
  ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
  if (!target_option_usable(cli.args)) return 1;
  const std::string address = bind_address(cli);
  if (!valid_bind_address(address)) {
    fail("cannot listen on \"" + address + "\": --bind (or LOOMDECK_BIND) needs a numeric IP address",
         "Say `loomdeck serve --bind 127.0.0.1` to serve this machine alone, or leave it out to listen on every "
         "interface (0.0.0.0).");
    return 1;
  }
  if (has_flag(cli.args, "--print-url")) return run_print_url(cli);
  // The token, the settings and the logbook live in the user's own folder, or nowhere.
  // The home is resolved once: every later use of the folder goes by this answer.
  const std::optional<std::string> home = user_home();
  const OwnFolder folder = ovra_folder_in(home, "loomdeck");
  if (!folder.usable()) {
    fail(folder.problem, folder.hint);
    return 1;
  }
  const BoundListener listener = bind_listener(cli.port.value_or(kFirstPort), address);
  // A port past the range is the only one tried; one inside it is tried upwards to 8940.
  if (listener.fd < 0 && cli.port && *cli.port >= kLastPort) {
    const std::string port = std::to_string(*cli.port);
    fail("cannot bind port " + port + ": " + listener.error,
         "Another program (or another loomdeck) holds port " + port + " - `loomdeck ui state --port " + port +
             "` tells whether it is loomdeck; serve on another port with `loomdeck serve --port <port>`, or leave "
             "--port out to take the first free one of 8930-8940.");
    return 1;
  }
  if (listener.fd < 0) {
    fail("cannot bind any port " + std::to_string(cli.port.value_or(kFirstPort)) + "-8940: " + listener.error,
         "Another instance may be serving - `loomdeck ui state` to check it.");
    return 1;
  }
  if (!start_child_guard()) {
    std::fprintf(stderr,
                 "WARNING: the child guard could not be started - what the tools start may outlive the server\n");
  }
  const std::string target = option_value(cli.args, "--target").value_or("");
  static ProcessBridge bridge(system_runner());
  auto state = std::make_shared<ServerState>(cli.attribution, target, home, system_clock(), system_runner(), bridge);
  state->gate = gate_config_from_environment(listener.port);
  state->page_headers = page_security_headers(state->gate, frame_ancestors_from_environment());
  state->token = load_or_create_token(folder.path + "/token");
  if (state->token.value.empty()) {
    std::fprintf(stderr, "WARNING: %s - only this machine can use the dashboard until it is fixed\n",
                 state->token.problem.c_str());
  }
  state->logbook.attach(std::make_shared<LogbookFile>(folder.path + "/logbook.jsonl"));
  say_ok(std::string("loomdeck v") + LOOMDECK_VERSION + " serving on port " + std::to_string(listener.port) +
         " (target " + (target.empty() ? "auto" : target) + ")");
  if (const auto dock = dock_webview_name(std::getenv("OVRA_DOCK_WEBVIEW"))) {
    state->dock_key = random_hex(16);
    std::thread(open_dock_webview, std::ref(state->clock), std::ref(state->runner), *dock,
                with_dock_key(dashboard_url(listener.port), state->dock_key))
        .detach();
  }
  std::thread(run_idle_supervisor, state).detach();
  std::thread([state] { run_status_watch(state->status_watch, state->status); }).detach();
  serve(listener.fd, state);
}

}  // namespace loomdeck
