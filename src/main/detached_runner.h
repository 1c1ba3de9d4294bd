#pragma once

#include "core/process.h"

namespace loomdeck {

// Starts a program in a session of its own and returns as soon as it is running, without
// waiting: the way to put a server in the background when `setsid` is missing. Standard input
// is the null device; a captured stream is discarded, since nobody stays to read it. The child
// stays ours only until this short-lived launcher exits, after which init adopts and reaps it.
// `exit_code` is 0 once the program has started.
class DetachedRunner : public ProcessRunner {
 public:
  using ProcessRunner::run;
  ProcessResult run(const std::vector<std::string>& argv, const ProcessOptions& options) override;
};

}  // namespace loomdeck
