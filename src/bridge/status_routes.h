#pragma once

#include "bridge/status_service.h"
#include "http/request.h"
#include "http/stream.h"

namespace loomdeck {

// GET /api/status and GET /state: the live status of the request's box.
void handle_status(StatusService& status, const Request& request, Stream& stream);

// GET /api/health: the cached status, never waiting for a probe; with nothing cached a warm-up
// starts in the background (one per box at a time).
void handle_health(StatusService& status, const Request& request, Stream& stream);

}  // namespace loomdeck
