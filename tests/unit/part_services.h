#pragma once

// The design surfaces and the part import on fakes, over the services of action_services.h, with
// the action verbs running the real import.

#include <string>

#include "action_services.h"
#include "parts/part_import.h"
#include "parts/parts_service.h"

namespace loomdeck {

class PartServices {
 public:
  PartServices(Clock& clock, ProcessRunner& runner, Bridge& bridge, EventSink& sink)
      : actions_base(clock, bridge, sink,
                     [this](const std::string& box, const std::string& args_text) {
                       return import_basic_part(parts, box, args_text);
                     }),
        parts(actions_base.green_runs, runner, actions_base.base.settings) {}

  ActionServices actions_base;
  StatusService& status = actions_base.status;
  ServerLog& log = actions_base.log;
  RunInBackground& run_in_background = actions_base.run_in_background;
  Dispatcher& actions = actions_base.actions;
  PartsService parts;
};

}  // namespace loomdeck
