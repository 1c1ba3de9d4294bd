#include "server/server_state.h"

#include <thread>

#include "parts/part_import.h"

namespace loomdeck {

ServerState::ServerState(std::string attribution, std::string default_target, Clock& clock, ProcessRunner& runner,
                         Bridge& bridge, EventSink* sink)
    : attribution(std::move(attribution)),
      default_target(std::move(default_target)),
      clock(clock),
      runner(runner),
      bridge(bridge),
      sink(sink ? *sink : events),
      run_in_background([](std::function<void()> work) { std::thread(std::move(work)).detach(); }),
      last_activity_(clock.now()) {}

void ServerState::touch() {
  const auto now = clock.now();
  std::lock_guard<std::mutex> lock(activity_mutex_);
  last_activity_ = now;
}

Clock::Instant ServerState::last_activity() const {
  std::lock_guard<std::mutex> lock(activity_mutex_);
  return last_activity_;
}

RunInBackground ServerState::background() {
  return [this](std::function<void()> work) {
    run_in_background([keep = weak_from_this().lock(), work = std::move(work)] { work(); });
  };
}

ServerState::operator BridgeClient() { return BridgeClient{bridge, attribution}; }

ServerState::operator StatusContext() {
  return StatusContext{BridgeClient{bridge, attribution},
                       clock,
                       sink,
                       log,
                       background(),
                       BoxChoice{bridge, default_target, default_box_picks},
                       status_builds,
                       status_cache,
                       warmups_in_flight,
                       launches_in_flight,
                       launch_failure_hints,
                       known_boxes,
                       [this](const json& payload, Clock::WallTime built_at) {
                         logbook.record(payload, built_at);
                         status_watch.built(string_member(payload, "target"));
                       }};
}

ServerState::operator ActionContext() { return ActionContext{*this, green_runs}; }

ServerState::operator DispatchContext() {
  const PartsContext parts = *this;
  return DispatchContext{*this, [parts](const std::string& box, const std::string& args_text) {
                           return import_basic_part(parts, box, args_text);
                         }};
}

ServerState::operator PartsContext() { return PartsContext{*this, runner, staged_parts}; }

}  // namespace loomdeck
