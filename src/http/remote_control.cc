#include "http/remote_control.h"

#include "http/response.h"

namespace loomdeck {

void handle_ui_toast(Exchange& ex) {
  const std::string message = string_member(ex.request.body, "message");
  const std::string kind = string_member(ex.request.body, "kind", "info");
  ex.state.log.append("toast [" + kind + "] " + message);
  ex.state.events.broadcast("toast", json{{"kind", kind}, {"message", message}});
  send_json(ex.stream, json{{"_hint", "delivered = live SSE viewers that showed it. 0 means nobody has the page open - open it first."},
                            {"delivered", ex.state.events.viewer_count()},
                            {"ok", true}});
}

void handle_ui_click(Exchange& ex) {
  const std::string target = string_member(ex.request.body, "target");
  ex.state.log.append("ui click " + target);
  ex.state.events.broadcast("click", json{{"target", target}});
  send_json(ex.stream, json{{"_hint", "Targets: setup, start, stop, tour, import-part, settings, refresh. The PAGE performs the click, so what the AI drives is exactly what the user gets."},
                            {"delivered", ex.state.events.viewer_count()},
                            {"ok", true}});
}

}  // namespace loomdeck
