#include "server/remote_control.h"

#include "http/response.h"

namespace loomdeck {

void handle_ui_toast(EventHub& events, ServerLog& log, const Request& request, Stream& stream) {
  const std::string message = string_member(request.body, "message");
  const std::string kind = string_member(request.body, "kind", "info");
  log.append("toast [" + kind + "] " + message);
  const int delivered = events.broadcast_and_count("toast", json{{"kind", kind}, {"message", message}});
  send_json(stream,
            json{{"_hint",
                  "delivered = live SSE viewers that showed it. 0 means nobody has the page open - open it first."},
                 {"delivered", delivered},
                 {"ok", true}});
}

void handle_ui_click(EventHub& events, ServerLog& log, const Request& request, Stream& stream) {
  const std::string target = string_member(request.body, "target");
  log.append("ui click " + target);
  const int delivered = events.broadcast_and_count("click", json{{"target", target}});
  send_json(stream, json{{"_hint",
                          "Targets: setup, start, stop, tour, import-part, settings, refresh. The PAGE performs the "
                          "click, so what the AI drives is exactly what the user gets."},
                         {"delivered", delivered},
                         {"ok", true}});
}

}  // namespace loomdeck
