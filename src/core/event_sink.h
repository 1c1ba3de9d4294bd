#pragma once

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

}  // namespace loomdeck
