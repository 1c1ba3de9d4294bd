#include "core/clock.h"

#include <thread>

namespace loomdeck {

Clock::Instant SystemClock::now() { return std::chrono::steady_clock::now(); }

Clock::WallTime SystemClock::wall_now() { return std::chrono::system_clock::now(); }

void SystemClock::sleep_for(std::chrono::milliseconds d) { std::this_thread::sleep_for(d); }

Clock& system_clock() {
  static SystemClock clock;
  return clock;
}

long long whole_seconds(Clock::Instant from, Clock::Instant to) {
  if (to <= from) return 0;
  return std::chrono::duration_cast<std::chrono::seconds>(to - from).count();
}

}  // namespace loomdeck
