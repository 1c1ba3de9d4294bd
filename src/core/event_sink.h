#pragma once

#include <string>
#include <string_view>

#include "core/json_text.h"

namespace loomdeck {

// Where long procedures report as they go (toasts, state snapshots, launch progress).
// The server's event hub pushes to every open page; tests record the events in order.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void broadcast(std::string_view name, const json& value) = 0;
};

// A toast on every open page: `kind` "ok", "err", "info", or "" for a step under way.
inline void toast(EventSink& sink, const std::string& message, const std::string& kind = "") {
  sink.broadcast("toast", json{{"kind", kind}, {"message", message}});
}

}  // namespace loomdeck
