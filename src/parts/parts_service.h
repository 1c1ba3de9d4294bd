#pragma once

#include "actions/auto_green.h"
#include "core/process.h"
#include "parts/staged_part.h"
#include "settings/settings.h"

namespace loomdeck {

// The design surfaces and the part import: the green runs (they get the box ready first), the
// seams of the status service they read through, the runner that clones wiki pages, the
// dashboard's settings, and the staged-part cache.
class PartsService {
 public:
  PartsService(GreenRuns& runs, ProcessRunner& runner, const SettingsStore& settings)
      : runs(runs),
        bridge(runs.status.bridge),
        clock(runs.status.clock),
        sink(runs.status.sink),
        log(runs.status.log),
        boxes(runs.status.boxes),
        runner(runner),
        settings(settings) {}
  PartsService(const PartsService&) = delete;
  PartsService& operator=(const PartsService&) = delete;

  GreenRuns& runs;
  const BridgeClient& bridge;
  Clock& clock;
  EventSink& sink;
  ServerLog& log;
  const BoxChoice& boxes;
  ProcessRunner& runner;
  const SettingsStore& settings;
  StagedParts staged_parts;
};

}  // namespace loomdeck
