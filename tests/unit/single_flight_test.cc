#include "core/single_flight.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "fakes.h"

namespace loomdeck {
namespace {

using std::chrono::seconds;
using Flights = SingleFlight<int>;

TEST(SingleFlight, CallersOfARunningKeyShareItsOneRun) {
  FakeClock clock;
  Flights flights(clock, 8, seconds(30));
  Gate gate;
  std::atomic<int> runs{0};
  const std::function<int()> job = [&] {
    ++runs;
    gate.wait();
    return 42;
  };
  std::vector<std::optional<int>> results(5);
  std::vector<std::thread> callers;
  callers.emplace_back([&] { results[0] = flights.run("Studio", job); });
  wait_until([&] { return runs == 1; });
  for (int i = 1; i < 5; ++i) callers.emplace_back([&, i] { results[i] = flights.run("Studio", job); });
  wait_until([&] { return flights.waiting() == 4; });
  // Another key does not wait for it.
  EXPECT_EQ(flights.run("Bench", [] { return 7; }), 7);
  gate.open();
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(results, std::vector<std::optional<int>>(5, 42));
  EXPECT_EQ(runs, 1);
  // Once it ended, the next caller runs the job anew.
  EXPECT_EQ(flights.run("Studio", job), 42);
  EXPECT_EQ(runs, 2);
}

TEST(SingleFlight, AFreshCallerWaitsOutAnOlderRunAndStartsItsOwn) {
  FakeClock clock;
  Flights flights(clock, 8, seconds(30));
  Gate gate;
  std::thread first([&] {
    flights.run("Studio", [&] {
      gate.wait();
      return 1;
    });
  });
  wait_until([&] { return flights.running() == 1; });
  std::optional<int> fresh;
  std::thread second([&] {
    fresh = flights.run(
        "Studio", [] { return 2; }, Flights::Join::kFresh);
  });
  wait_until([&] { return flights.waiting() == 1; });
  EXPECT_EQ(flights.running(), 1u);
  gate.open();
  first.join();
  second.join();
  EXPECT_EQ(fresh, 2);
}

TEST(SingleFlight, BeyondItsSlotsACallerWaitsOnTheClockForOneToFreeUp) {
  // Lets the test act while a caller waits for a slot, at its n-th look.
  class SteppedClock : public FakeClock {
   public:
    std::function<void(int)> on_sleep = [](int) {};
    void sleep_for(std::chrono::milliseconds d) override {
      FakeClock::sleep_for(d);
      on_sleep(++sleeps_);
    }

   private:
    int sleeps_ = 0;
  } clock;
  Flights flights(clock, 2, seconds(30));
  Gate gate;
  std::vector<std::thread> busy;
  for (const char* key : {"A", "B"})
    busy.emplace_back([&, key] {
      flights.run(key, [&] {
        gate.wait();
        return 0;
      });
    });
  wait_until([&] { return flights.running() == 2; });

  bool ran = false;
  const std::function<int()> job = [&] {
    ran = true;
    return 3;
  };
  EXPECT_EQ(flights.run("C", job), std::nullopt);
  EXPECT_FALSE(ran);
  EXPECT_EQ(clock.elapsed(), 30.0);

  // A slot that frees up during the wait is taken.
  clock.on_sleep = [&](int n) {
    if (n != 310) return;
    gate.open();
    wait_until([&] { return flights.running() == 0; });
  };
  EXPECT_EQ(flights.run("C", job), 3);
  EXPECT_EQ(clock.elapsed(), 31.0);
  for (std::thread& t : busy) t.join();
}

TEST(SingleFlight, AJobThatThrowsFreesItsKeyAndItsJoinersGetNothing) {
  FakeClock clock;
  Flights flights(clock, 1, seconds(30));
  Gate gate;
  std::thread leader([&] {
    EXPECT_THROW(flights.run("Studio",
                             [&]() -> int {
                               gate.wait();
                               throw std::runtime_error("probe thread could not start");
                             }),
                 std::runtime_error);
  });
  wait_until([&] { return flights.running() == 1; });
  std::optional<int> joined = 5;
  std::thread joiner([&] { joined = flights.run("Studio", [] { return 9; }); });
  wait_until([&] { return flights.waiting() == 1; });
  gate.open();
  leader.join();
  joiner.join();
  EXPECT_EQ(joined, std::nullopt);
  EXPECT_EQ(flights.run("Studio", [] { return 9; }), 9);
}

}  // namespace
}  // namespace loomdeck
