#include "actions/ready_first.h"

#include "actions/launch.h"
#include "bridge/readiness.h"
#include "core/box_name.h"

namespace loomdeck {

bool ready_first(GreenRuns& runs, const std::string& box, long long min_budget_seconds) {
  StatusService& status = runs.status;
  if (read_readiness(status.bridge, box).ready) return true;
  toast(status.sink, "Getting " + box_label(box) + " ready first - launching Fusion and waiting for the bridge add-in");
  // A run already in flight is joined; either way the wait below is what answers.
  start_green_run(runs, box, false);
  const json s = status.bridge.call(box, tool::kState, kStateArgs).data;
  return ensure_ready(status, box, launch_budget(s, min_budget_seconds));
}

}  // namespace loomdeck
