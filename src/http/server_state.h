#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "core/clock.h"
#include "core/process.h"
#include "http/event_hub.h"
#include "http/server_log.h"

namespace loomdeck {

// Everything the connection threads and background threads share. Each member guards itself;
// no lock is held across a bridge call, a socket write or a second lock.
struct ServerState {
  ServerState(std::string attribution, std::string default_target, Clock& clock, ProcessRunner& runner)
      : attribution(std::move(attribution)),
        default_target(std::move(default_target)),
        clock(clock),
        runner(runner),
        last_activity_(clock.now()) {}

  const std::string attribution;
  const std::string default_target;
  Clock& clock;
  ProcessRunner& runner;
  ServerLog log;
  EventHub events;

  void touch() {
    const auto now = clock.now();
    std::lock_guard<std::mutex> lock(activity_mutex_);
    last_activity_ = now;
  }
  Clock::Instant last_activity() const {
    std::lock_guard<std::mutex> lock(activity_mutex_);
    return last_activity_;
  }

 private:
  mutable std::mutex activity_mutex_;
  Clock::Instant last_activity_;
};

}  // namespace loomdeck
