#include "server/server_state.h"

#include <thread>

#include "parts/part_import.h"

namespace loomdeck {

ServerState::ServerState(std::string attribution, std::string default_target, std::optional<std::string> home,
                         Clock& clock, ProcessRunner& runner, Bridge& bridge, EventSink* sink)
    : attribution(std::move(attribution)),
      default_target(std::move(default_target)),
      clock(clock),
      runner(runner),
      bridge(bridge),
      sink(sink ? *sink : events),
      run_in_background([](std::function<void()> work) { std::thread(std::move(work)).detach(); }),
      settings(std::move(home)),
      status(BridgeClient{bridge, this->attribution}, clock, this->sink, log, settings, known_boxes,
             BoxChoice{bridge, this->default_target, default_box_picks}, background(),
             [this](const BoxStatus& built, Clock::WallTime built_at) {
               logbook.record(built, built_at);
               status_watch.built(built.target);
             }),
      actions(green_runs, settings,
              [this](const std::string& box, const std::string& args_text) {
                return import_basic_part(parts, box, args_text);
              }),
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

}  // namespace loomdeck
