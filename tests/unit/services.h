#pragma once

// The status service on fakes, put together the way the server puts it together and with nothing
// else of the server; action_services.h and part_services.h add the services built on it.

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/known_boxes.h"
#include "bridge/status_service.h"
#include "bridge/targets.h"
#include "core/server_log.h"
#include "fakes.h"
#include "settings/settings.h"

namespace loomdeck {

// A home folder of the test's own (for the dashboard settings), removed at the end.
class TestHome {
 public:
  TestHome() {
    static std::atomic<int> next{0};
    path_ = std::filesystem::temp_directory_path() /
            ("loomdeck-settings-" + std::to_string(::getpid()) + "-" + std::to_string(next++));
    std::filesystem::create_directories(path_);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
  }
  ~TestHome() { std::filesystem::remove_all(path_); }
  TestHome(const TestHome&) = delete;
  TestHome& operator=(const TestHome&) = delete;
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

class Services {
 public:
  Services(Clock& clock, Bridge& bridge, EventSink& sink, std::string default_target = "")
      : clock_(clock), bridge_(bridge), sink_(sink), default_target_(std::move(default_target)) {}
  // Background work still running ends before the services it uses go.
  ~Services() {
    for (;;) {
      std::thread next;
      {
        std::lock_guard<std::mutex> lock(threads_mutex_);
        if (threads_.empty()) return;
        next = std::move(threads_.back());
        threads_.pop_back();
      }
      next.join();
    }
  }
  Services(const Services&) = delete;
  Services& operator=(const Services&) = delete;

  // Where background work goes: by default a thread of its own, joined at the end; tests replace
  // it to run the work in place or to hold it back.
  RunInBackground run_in_background = [this](std::function<void()> work) {
    std::lock_guard<std::mutex> lock(threads_mutex_);
    threads_.emplace_back(std::move(work));
  };
  // Told of every status built, like the server's logbook and watch.
  StatusObserver observe;

 private:
  Clock& clock_;
  Bridge& bridge_;
  EventSink& sink_;
  const std::string default_target_;
  std::mutex threads_mutex_;
  std::vector<std::thread> threads_;
  DefaultBoxPicks picks_{clock_, 1, kProbeTimeLimit};

 public:
  ServerLog log;
  TestHome home;
  SettingsStore settings{home.path()};
  KnownBoxes known_boxes{clock_, [this] { return listed_box_names(bridge_); }};
  StatusService status{BridgeClient{bridge_, "t7"},
                       clock_,
                       sink_,
                       log,
                       settings,
                       known_boxes,
                       BoxChoice{bridge_, default_target_, picks_},
                       [this](std::function<void()> work) { run_in_background(std::move(work)); },
                       [this](const BoxStatus& built, Clock::WallTime at) {
                         if (observe) observe(built, at);
                       }};
};

}  // namespace loomdeck
