#pragma once

#include <functional>
#include <string>

#include "actions/auto_green.h"
#include "http/request.h"
#include "http/stream.h"
#include "settings/settings.h"

namespace loomdeck {

struct ActionRequest {
  std::string action;
  std::string box;
  std::string args;  // compact JSON text, "null" when absent
};

// The wiki part import that the `import_basic_part` verb runs once the box is ready: (box,
// argument text) -> reply.
using ImportPart = std::function<json(const std::string& box, const std::string& args_text)>;

// The action verbs: the green runs (and through them the status service the launch procedures
// work with), the dashboard's settings, and the part import.
class Dispatcher {
 public:
  Dispatcher(GreenRuns& runs, const SettingsStore& settings, ImportPart import_part)
      : runs(runs), settings(settings), import_part(std::move(import_part)) {}

  GreenRuns& runs;
  const SettingsStore& settings;
  const ImportPart import_part;
};

// Runs one action verb on the box and returns the reply (for most verbs the bridge's own result).
json run_action(const Dispatcher& actions, const ActionRequest& request);

// POST /api/action
void handle_action(const Dispatcher& actions, const Request& request, Stream& stream);

// POST /api/auto-green
void handle_auto_green(const Dispatcher& actions, const Request& request, Stream& stream);

}  // namespace loomdeck
