#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/event_sink.h"
#include "core/json_text.h"
#include "core/lru_map.h"
#include "logbook/logbook_file.h"
#include "logbook/transitions.h"
#include "status/box_status.h"

namespace loomdeck {

// Entries kept in memory (and read back at start-up).
inline constexpr std::size_t kLogbookKeep = 2000;

// "YYYY-MM-DDTHH:MM:SSZ" (UTC, whole seconds).
std::string iso_utc_seconds(Clock::WallTime t);

// What changed on each box, and when: every status payload the server builds is compared with
// the states last recorded for its box, and each change becomes an entry that is kept in memory,
// appended to the file and pushed to every open page as a `logbook` event.
class Logbook {
 public:
  explicit Logbook(EventSink& sink, std::size_t keep = kLogbookKeep);

  // Reads the file back (the newest entries, and each box's last states) and appends every
  // new entry to it from now on. Called once, before the server serves.
  void attach(std::shared_ptr<LogbookFile> file);

  // Records the changes a status shows against what was recorded before for its box.
  void record(const BoxStatus& status, Clock::WallTime now);

  // The newest `limit` entries (of `box` when given), oldest first.
  std::vector<json> newest(const std::optional<std::string>& box, std::size_t limit) const;

 private:
  EventSink& sink_;
  const std::size_t keep_;
  mutable std::mutex mutex_;  // guards the members below; never held while writing or broadcasting
  std::deque<json> entries_;
  LruMap<BoxStates> states_;  // the last states of the 256 boxes recorded most recently
  std::shared_ptr<LogbookFile> file_;
};

}  // namespace loomdeck
