// Wall-clock time and sleeping for the simulator's programs; tests pass a fake.
#pragma once

#include <cstdint>

namespace sim {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t now_ms() = 0;
  virtual void sleep_until_ms(int64_t when_ms) = 0;
  void sleep_ms(int64_t ms) { sleep_until_ms(now_ms() + ms); }
};

class SystemClock : public Clock {
 public:
  int64_t now_ms() override;
  void sleep_until_ms(int64_t when_ms) override;
};

}  // namespace sim
