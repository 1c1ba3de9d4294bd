#pragma once

#include <chrono>

namespace loomdeck {

// Every wait and every reading of the time goes through a Clock, so the long polling
// procedures run on a simulated clock in the unit tests.
class Clock {
 public:
  using Instant = std::chrono::steady_clock::time_point;
  using WallTime = std::chrono::system_clock::time_point;

  virtual ~Clock() = default;
  virtual Instant now() = 0;
  virtual WallTime wall_now() = 0;
  virtual void sleep_for(std::chrono::milliseconds d) = 0;
};

class SystemClock : public Clock {
 public:
  Instant now() override;
  WallTime wall_now() override;
  void sleep_for(std::chrono::milliseconds d) override;
};

// The process-wide real clock.
Clock& system_clock();

// Whole seconds from `from` to `to`, truncated; negative spans count as 0.
long long whole_seconds(Clock::Instant from, Clock::Instant to);

}  // namespace loomdeck
