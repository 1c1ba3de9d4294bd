#pragma once

#include "core/server_log.h"
#include "http/event_hub.h"
#include "http/request.h"
#include "http/stream.h"

namespace loomdeck {

// POST /ui/toast and POST /ui/click: relay a toast or a remote click to every open page.
void handle_ui_toast(EventHub& events, ServerLog& log, const Request& request, Stream& stream);
void handle_ui_click(EventHub& events, ServerLog& log, const Request& request, Stream& stream);

}  // namespace loomdeck
