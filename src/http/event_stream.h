#pragma once

#include <chrono>

#include "core/server_log.h"
#include "http/event_hub.h"
#include "http/stream.h"

namespace loomdeck {

inline constexpr std::string_view kEventStreamHead =
    "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache, no-transform\r\nX-Accel-Buffering: "
    "no\r\nAccess-Control-Allow-Origin: *\r\nConnection: keep-alive\r\n\r\n";

// How often a quiet stream checks whether its peer went away.
inline constexpr std::chrono::milliseconds kHangupCheck{1000};

// GET /events: holds the connection open and writes every broadcast frame until the client goes
// away, with a keep-alive comment after each `ping_every` of silence; the log notes who comes and goes.
void serve_event_stream(EventHub& hub, ServerLog& log, Stream& stream,
                        std::chrono::milliseconds ping_every = std::chrono::seconds(15));

}  // namespace loomdeck
