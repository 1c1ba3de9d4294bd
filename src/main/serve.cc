#include <csignal>
#include <memory>
#include <string>

#include "core/clock.h"
#include "core/process.h"
#include "core/version.h"
#include "http/listener.h"
#include "main/verbs.h"

namespace loomdeck {

int run_serve(const CommandLine& cli) {
  // Writes to peers that went away must come back as errors, never end the process.
  std::signal(SIGPIPE, SIG_IGN);
  const BoundListener listener = bind_listener(cli.port.value_or(8930));
  if (listener.fd < 0) {
    fail("cannot bind any port 8930-8940: " + listener.error,
         "Another instance may be serving - `loomdeck ui state` to check it.");
    return 1;
  }
  const std::string target = option_value(cli.args, "--target").value_or("");
  auto state = std::make_shared<ServerState>(cli.attribution, target, system_clock(), system_runner());
  say_ok(std::string("loomdeck v") + LOOMDECK_VERSION + " serving on port " + std::to_string(listener.port) +
         " (target " + (target.empty() ? "auto" : target) + ")");
  accept_loop(listener.fd, state);
}

}  // namespace loomdeck
