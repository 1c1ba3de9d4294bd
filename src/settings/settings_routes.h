#pragma once

#include "core/server_log.h"
#include "http/request.h"
#include "http/stream.h"

namespace loomdeck {

// GET /settings and POST /settings: the dashboard's own settings file.
void handle_get_settings(const Request& request, Stream& stream);
void handle_post_settings(ServerLog& log, const Request& request, Stream& stream);

}  // namespace loomdeck
