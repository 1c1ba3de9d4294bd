#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/status_service.h"
#include "core/clock.h"

namespace loomdeck {

// While a page's event stream is open, the server itself refreshes the status of the box the page
// shows this often and pushes it as a `state` event, so however many pages are open the box pays
// for one status build per period.
inline constexpr std::chrono::seconds kWatchPeriod{15};
// Boxes watched at once: those of the open streams, at most this many.
inline constexpr std::size_t kMaxWatchedBoxes = 256;
// The longest the watch sleeps between two looks at its boxes.
inline constexpr std::chrono::milliseconds kWatchLongestPause{1000};

struct WatchedBox {
  std::size_t streams = 0;    // open streams showing the box
  Clock::Instant last_built;  // when a status payload of the box was last built, by anyone
  bool refreshing = false;    // a refresh of the watch's own is under way
};

using WatchedBoxes = std::map<std::string, WatchedBox>;

// The boxes to refresh now: shown by an open stream, not being refreshed already, and without a
// payload built in the last period.
std::vector<std::string> due_boxes(const WatchedBoxes& boxes, Clock::Instant now);

// How long the watch may sleep before the next box falls due, at most `longest`.
std::chrono::milliseconds until_next_due(const WatchedBoxes& boxes, Clock::Instant now,
                                         std::chrono::milliseconds longest);

// The boxes the open streams show, and when each was last built.
class StatusWatch {
 public:
  // One open stream's hold on its box: the box stays watched while a hold on it lives.
  class Hold {
   public:
    Hold() = default;
    Hold(Hold&& other) noexcept;
    Hold& operator=(Hold&& other) noexcept;
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    ~Hold();
    bool watching() const { return watch_ != nullptr; }

   private:
    friend class StatusWatch;
    Hold(StatusWatch* watch, std::string box) : watch_(watch), box_(std::move(box)) {}
    StatusWatch* watch_ = nullptr;
    std::string box_;
  };

  explicit StatusWatch(Clock& clock, std::size_t max_boxes = kMaxWatchedBoxes) : clock_(clock), max_boxes_(max_boxes) {}

  // Watches `box` while the hold lives. A box shown for the first time falls due one period
  // later: the page that shows it reads its status itself as it opens. The hold is empty (the
  // box is not watched) when `max_boxes` other boxes are watched already.
  Hold show(const std::string& box);

  // A status payload of `box` was just built (counts only for a watched box).
  void built(const std::string& box);

  // The boxes due now, each marked as being refreshed until `refreshed` is called for it.
  std::vector<std::string> take_due();
  // The watch's refresh of `box` has ended.
  void refreshed(const std::string& box);

  // How long the watch may sleep now.
  std::chrono::milliseconds pause();

  // Returns once a box is watched (at once when one is).
  void wait_for_streams();

 private:
  void release(const std::string& box);

  Clock& clock_;
  const std::size_t max_boxes_;
  std::mutex mutex_;
  std::condition_variable shown_;
  WatchedBoxes boxes_;
};

// One look at the watched boxes: each due box's live status is built in the background (joining
// a build already running for it) and pushed to every open page; then a sleep until the next is
// due. The empty box name stands for the default box.
void status_watch_tick(StatusWatch& watch, StatusService& status);

// The ticks for the life of the server; blocked while no event stream is open.
[[noreturn]] void run_status_watch(StatusWatch& watch, StatusService& status);

}  // namespace loomdeck
