#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "core/process_options.h"

namespace loomdeck {

// Linux takes one command-line argument of at most 128 KiB, its terminating zero byte included.
inline constexpr std::size_t kArgumentLimit = 131072;

// Whether the kernel takes `text` as one command-line argument.
inline bool fits_one_argument(std::string_view text) { return text.size() < kArgumentLimit; }

// Runs a program by argument vector (argv[0] looked up on PATH) in a process group of its own,
// standard input from the null device, and always waits for it, at most its time limit. The child
// gets the parent-death signal, which the kernel ties to the thread that started it: since that
// thread waits in run until the child has ended, the signal fires only when we die (see
// SpawnSetup). Tests substitute a recording fake.
class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;
  virtual ProcessResult run(const std::vector<std::string>& argv, const ProcessOptions& options) = 0;
  ProcessResult run(const std::vector<std::string>& argv) { return run(argv, ProcessOptions{}); }
};

class PosixProcessRunner : public ProcessRunner {
 public:
  explicit PosixProcessRunner(Clock& clock = system_clock()) : clock_(clock) {}
  using ProcessRunner::run;
  ProcessResult run(const std::vector<std::string>& argv, const ProcessOptions& options) override;

 private:
  Clock& clock_;
};

// The process-wide real runner.
ProcessRunner& system_runner();

// Makes an interrupt, a hang-up or a termination of this process end the children the real
// runner has running too (each is in a process group of its own, out of the signal's reach),
// and then this process as the signal would have.
void end_children_with_us();

}  // namespace loomdeck
