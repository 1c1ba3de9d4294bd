#pragma once

#include "actions/green_run_registry.h"
#include "bridge/status_service.h"

namespace loomdeck {

// What the launch procedures and the auto-green run work with: everything the status service
// does (they build and push status payloads and keep its launch maps), plus the green runs.
struct ActionContext : StatusContext {
  GreenRunRegistry& green_runs;
};

}  // namespace loomdeck
