#pragma once

#include "actions/action_context.h"
#include "core/process.h"
#include "parts/staged_part.h"

namespace loomdeck {

// What the design surfaces and the part import work with: the launch procedures' context (they
// get the box ready first), the runner that clones wiki pages, and the staged-part cache.
struct PartsContext : ActionContext {
  ProcessRunner& runner;
  StagedParts& staged_parts;
};

}  // namespace loomdeck
