#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/clock.h"
#include "core/process.h"
#include "main/command_line.h"
#include "main/sse_parser.h"

namespace loomdeck {

// The events `watch --events` may pick.
inline constexpr std::string_view kWatchableEvents[] = {"hello", "state", "progress", "toast", "click", "logbook"};

// The line watch prints after it found the server again.
inline constexpr std::string_view kReconnectedLine = R"({"event":"reconnected"})";

// The events named by `--events a,b` (every event when the option is absent, an empty list), or
// the error text for a name that is not one of kWatchableEvents.
std::variant<std::vector<std::string>, std::string> event_filter(const std::optional<std::string>& option);

// The line printed for one event, {"data":...,"event":...} with the data as JSON (as text when
// it is not JSON); nothing when `wanted` is not empty and does not name it.
std::optional<std::string> watch_line(const SseEvent& event, const std::vector<std::string>& wanted);

// The pause before the next attempt after `failures` attempts in a row found no stream: a
// quarter second, doubling up to 5 s.
std::chrono::milliseconds reconnect_delay(int failures);

// The curl command following the server's event stream on `port` (for the box, when given).
std::vector<std::string> events_command(uint16_t port, const std::optional<std::string>& box);

// Where watch's lines go: false from write_line or reader_present once the reader went away.
class WatchOutput {
 public:
  virtual ~WatchOutput() = default;
  virtual bool write_line(std::string_view line) = 0;
  virtual bool reader_present() = 0;
};

struct WatchOptions {
  std::optional<uint16_t> port;
  std::optional<std::string> box;
  std::vector<std::string> wanted;
};

// Follows the event stream of the same-version server on the port given (else the first of the
// range), printing one line per event, and after a stream ends finds the server again, backing
// off on the clock between attempts; prints kReconnectedLine once a new stream says hello.
// Returns 0 once the reader went away, 1 (after saying why) when no server answers at the start.
int follow_events(const WatchOptions& options, Clock& clock, ProcessRunner& runner, WatchOutput& out);

// `loomdeck watch [--target <box>] [--events ...] [--port <port>]` on standard output.
int run_watch(const CommandLine& cli);

}  // namespace loomdeck
