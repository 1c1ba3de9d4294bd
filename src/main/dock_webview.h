#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/process.h"

namespace loomdeck {

// The name of the dock's webview tab when OVRA_DOCK_WEBVIEW holds more than white space.
std::optional<std::string> dock_webview_name(const char* env_value);

std::vector<std::string> dock_webview_command(const std::string& name, const std::string& url);

// Gives the listener a moment, then asks the workspace to open or refresh the tab. A
// fire-and-forget request: its output, status and start failure are not looked at.
void open_dock_webview(Clock& clock, ProcessRunner& runner, const std::string& name, const std::string& url);

}  // namespace loomdeck
