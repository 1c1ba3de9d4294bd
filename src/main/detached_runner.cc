#include "main/detached_runner.h"

#include <cstring>

#include "core/spawn.h"

namespace loomdeck {

ProcessResult DetachedRunner::run(const std::vector<std::string>& argv, const ProcessOptions& options) {
  if (argv.empty()) return not_started("empty command");
  SpawnSetup setup(/*new_session=*/true);
  // A captured stream is discarded: nobody stays to read it.
  setup.redirect(1, options.stdout_mode, options.output_file);
  setup.redirect(2, options.stderr_mode, options.output_file);
  pid_t pid = -1;
  if (const int rc = setup.spawn(argv, &pid); rc != 0) return not_started(std::strerror(rc));
  ProcessResult result;
  result.started = true;
  result.exit_code = 0;
  return result;
}

}  // namespace loomdeck
