#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/clock.h"

namespace loomdeck {

// Runs at most one job per key at a time and shares its result with everyone who asks for the
// same key meanwhile, and runs at most `max_running` jobs at once in all. So however many
// callers pile up on a key whose job hangs, that job's cost is paid once.
template <typename Result>
class SingleFlight {
 public:
  // How a caller may use a job that is already running for its key.
  enum class Join {
    kAny,    // its result is as good as a new one
    kFresh,  // only a job begun after this call: wait for an older one to end, then run anew
  };

  static constexpr std::chrono::milliseconds kSlotPoll{100};

  // A caller that finds every slot taken looks again every 100 ms on the clock, for at most
  // `slot_wait`.
  SingleFlight(Clock& clock, std::size_t max_running, std::chrono::milliseconds slot_wait)
      : clock_(clock), max_running_(max_running), slot_wait_(slot_wait) {}

  // The result of the key's job: the running one's, or one this call runs. Nothing when no
  // slot freed up in time, or when the job it joined ended in an exception (which reaches
  // only the caller that ran it).
  std::optional<Result> run(const std::string& key, const std::function<Result()>& job, Join join = Join::kAny) {
    const Clock::Instant give_up = clock_.now() + slot_wait_;
    std::uint64_t newer_than = 0;
    if (join == Join::kFresh) {
      std::lock_guard<std::mutex> lock(mutex_);
      newer_than = started_;
    }
    for (;;) {
      std::shared_ptr<Flight> flight;
      bool lead = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = flights_.find(key);
        if (it != flights_.end()) {
          flight = it->second;
          ++waiting_;
        } else if (running_ < max_running_) {
          flight = std::make_shared<Flight>();
          flight->number = ++started_;
          flights_.emplace(key, flight);
          ++running_;
          lead = true;
        }
      }
      if (lead) return lead_flight(key, *flight, job);
      if (flight) {
        std::optional<Result> shared = flight->wait();
        {
          std::lock_guard<std::mutex> lock(mutex_);
          --waiting_;
        }
        if (flight->number > newer_than) return shared;
        continue;
      }
      if (clock_.now() >= give_up) return std::nullopt;
      clock_.sleep_for(kSlotPoll);
    }
  }

  // Jobs running, and callers waiting for one to end (what the tests wait for).
  std::size_t running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
  }
  std::size_t waiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_;
  }

 private:
  struct Flight {
    std::uint64_t number = 0;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::optional<Result> result;

    std::optional<Result> wait() {
      std::unique_lock<std::mutex> lock(mutex);
      ended.wait(lock, [this] { return done; });
      return result;
    }
    void finish(std::optional<Result> r) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        result = std::move(r);
        done = true;
      }
      ended.notify_all();
    }
  };

  std::optional<Result> lead_flight(const std::string& key, Flight& flight, const std::function<Result()>& job) {
    std::optional<Result> result;
    try {
      result = job();
    } catch (...) {
      end(key, flight, std::nullopt);
      throw;
    }
    end(key, flight, result);
    return result;
  }

  // Leaves the map first, so a caller arriving from now on starts afresh, then wakes the joiners.
  void end(const std::string& key, Flight& flight, std::optional<Result> result) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      flights_.erase(key);
      --running_;
    }
    flight.finish(std::move(result));
  }

  Clock& clock_;
  const std::size_t max_running_;
  const std::chrono::milliseconds slot_wait_;
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Flight>> flights_;
  std::size_t running_ = 0;
  std::size_t waiting_ = 0;
  std::uint64_t started_ = 0;
};

}  // namespace loomdeck
