#pragma once

#include "core/server_log.h"
#include "http/request.h"
#include "http/stream.h"
#include "settings/settings.h"

namespace loomdeck {

// GET /settings and POST /settings: the dashboard's own settings file.
void handle_get_settings(const SettingsStore& settings, Stream& stream);
void handle_post_settings(SettingsStore& settings, ServerLog& log, const Request& request, Stream& stream);

}  // namespace loomdeck
