#include "main/dock_webview.h"

#include "core/text.h"

namespace loomdeck {

std::optional<std::string> dock_webview_name(const char* env_value) {
  if (!env_value || trim(env_value).empty()) return std::nullopt;
  return std::string(env_value);
}

std::vector<std::string> dock_webview_command(const std::string& name, const std::string& url) {
  return {"ovra-cli", "brindle", "webview", "open-or-refresh", "--name", name, "--url", url};
}

void open_dock_webview(Clock& clock, ProcessRunner& runner, const std::string& name, const std::string& url) {
  clock.sleep_for(std::chrono::milliseconds(800));
  ProcessOptions options;
  options.stdout_mode = OutputMode::kDiscard;
  options.stderr_mode = OutputMode::kDiscard;
  runner.run(dock_webview_command(name, url), options);
}

}  // namespace loomdeck
