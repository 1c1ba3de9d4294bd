#include "clock.h"

#include <chrono>
#include <thread>

namespace sim {

int64_t SystemClock::now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void SystemClock::sleep_until_ms(int64_t when_ms) {
  int64_t left = when_ms - now_ms();
  if (left > 0) std::this_thread::sleep_for(std::chrono::milliseconds(left));
}

}  // namespace sim
