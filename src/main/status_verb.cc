#include <iostream>

#include "bridge/bridge.h"
#include "bridge/status_service.h"
#include "bridge/targets.h"
#include "core/clock.h"
#include "core/process.h"
#include "core/user_home.h"
#include "main/verbs.h"

namespace loomdeck {

int run_status(const CommandLine& cli) {
  if (!target_option_usable(cli.args)) return 1;
  ProcessBridge bridge(system_runner());
  const std::optional<std::string> target = option_value(cli.args, "--target");
  const std::string box = target ? *target : pick_best_box(bridge);
  // The dashboard settings as the server reads them.
  const SettingsStore settings(user_home());
  const BoxStatus status = build_status(BridgeClient{bridge, cli.attribution}, system_clock(), settings, box, false);
  std::cout << dump_pretty(json(status)) << '\n' << std::flush;
  return 0;
}

}  // namespace loomdeck
