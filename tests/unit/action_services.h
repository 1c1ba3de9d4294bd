#pragma once

// The green runs and the action verbs on fakes, over the status service of services.h. The part
// import is not built here: the verb that runs it answers that it is missing.

#include <string>

#include "actions/auto_green.h"
#include "actions/dispatcher.h"
#include "services.h"

namespace loomdeck {

class ActionServices {
 public:
  ActionServices(Clock& clock, Bridge& bridge, EventSink& sink, ImportPart import_part = {})
      : base(clock, bridge, sink),
        actions(
            green_runs, base.settings,
            import_part ? std::move(import_part) : [](const std::string&, const std::string&) {
              return json{{"error", "no part import in this test"}};
            }) {}

  Services base;
  StatusService& status = base.status;
  ServerLog& log = base.log;
  RunInBackground& run_in_background = base.run_in_background;
  GreenRuns green_runs{base.status};
  Dispatcher actions;
};

}  // namespace loomdeck
