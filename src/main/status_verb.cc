#include <iostream>

#include "bridge/bridge.h"
#include "bridge/status_service.h"
#include "bridge/targets.h"
#include "core/clock.h"
#include "core/process.h"
#include "main/verbs.h"

namespace loomdeck {

int run_status(const CommandLine& cli) {
  if (!target_option_usable(cli.args)) return 1;
  ProcessBridge bridge(system_runner());
  const std::optional<std::string> target = option_value(cli.args, "--target");
  const std::string box = target ? *target : pick_best_box(bridge);
  std::cout << dump_pretty(build_status(bridge, system_clock(), cli.attribution, box, false)) << '\n' << std::flush;
  return 0;
}

}  // namespace loomdeck
