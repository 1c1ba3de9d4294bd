#include "main/detached_runner.h"

#include <cstring>

#include "core/spawn.h"

namespace loomdeck {

ProcessResult DetachedRunner::run(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  if (argv.empty()) {
    result.error_text = "empty command";
    return result;
  }
  SpawnSetup setup(/*new_session=*/true);
  // A captured stream is discarded: nobody stays to read it.
  setup.redirect(1, options.stdout_mode, options.output_file);
  setup.redirect(2, options.stderr_mode, options.output_file);
  pid_t pid = -1;
  const int rc = setup.spawn(argv, &pid);
  if (rc != 0) {
    result.error_text = std::strerror(rc);
    return result;
  }
  result.started = true;
  result.exit_code = 0;
  return result;
}

}  // namespace loomdeck
