#include "main/watch_verb.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/json_text.h"
#include "core/text.h"
#include "main/discovery.h"

namespace loomdeck {

namespace {

// One stream is followed at most this long (every child has a time limit); the next one
// follows on at once.
constexpr std::chrono::seconds kStreamLimit = std::chrono::hours(1);
constexpr std::chrono::milliseconds kFirstDelay{250};
constexpr std::chrono::milliseconds kLongestDelay{5000};

bool watchable(std::string_view name) {
  return std::find(std::begin(kWatchableEvents), std::end(kWatchableEvents), name) != std::end(kWatchableEvents);
}

// Standard output, written with plain writes so a reader that went away shows as a failed
// write (SIGPIPE is ignored), and looked at between events.
class StdoutLines : public WatchOutput {
 public:
  bool write_line(std::string_view line) override {
    std::string text(line);
    text += '\n';
    std::string_view left = text;
    while (!left.empty()) {
      const ssize_t n = ::write(STDOUT_FILENO, left.data(), left.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      left.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  // A pipe whose reader closed polls as an error at once, before anything is written to it.
  bool reader_present() override {
    pollfd p{STDOUT_FILENO, POLLOUT, 0};
    return ::poll(&p, 1, 0) <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0;
  }
};

}  // namespace

std::variant<std::vector<std::string>, std::string> event_filter(const std::optional<std::string>& option) {
  std::vector<std::string> wanted;
  if (!option) return wanted;
  std::string_view rest = *option;
  for (;;) {
    const std::size_t comma = rest.find(',');
    const std::string_view name = trim(rest.substr(0, comma));
    if (!name.empty() && !watchable(name)) return "unknown event " + std::string(name);
    if (!name.empty()) wanted.emplace_back(name);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  if (wanted.empty()) return std::string("--events names no event");
  return wanted;
}

std::optional<std::string> watch_line(const SseEvent& event, const std::vector<std::string>& wanted) {
  if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), event.name) == wanted.end()) return std::nullopt;
  const std::optional<json> data = parse_json(event.data);
  return dump_compact(json{{"event", event.name}, {"data", data ? *data : json(event.data)}});
}

std::chrono::milliseconds reconnect_delay(int failures) {
  std::chrono::milliseconds delay = kFirstDelay;
  for (int i = 0; i < failures && delay < kLongestDelay; ++i) delay *= 2;
  return std::min(delay, kLongestDelay);
}

std::vector<std::string> events_command(uint16_t port, const std::optional<std::string>& box) {
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/events";
  if (box) url += "?target=" + percent_encoded(*box);
  return {"curl", "-s", "-N", "-m", std::to_string(kStreamLimit.count()), url};
}

int follow_events(const WatchOptions& options, Clock& clock, ProcessRunner& runner, WatchOutput& out) {
  bool followed_before = false;
  int failures = 0;
  for (;;) {
    if (!out.reader_present()) return 0;
    bool said_hello = false;
    bool reader_gone = false;
    if (const std::optional<uint16_t> port = find_own_server(runner, options.port)) {
      SseParser parser;
      ProcessOptions stream;
      stream.stderr_mode = OutputMode::kDiscard;
      stream.time_limit = kStreamLimit + std::chrono::seconds(10);
      stream.on_stdout = [&](std::string_view piece) {
        for (const SseEvent& event : parser.feed(piece)) {
          if (event.name == "hello" && !said_hello) {
            said_hello = true;
            if (followed_before && !out.write_line(kReconnectedLine)) reader_gone = true;
          }
          const std::optional<std::string> line = watch_line(event, options.wanted);
          if (!reader_gone && line && !out.write_line(*line)) reader_gone = true;
        }
        // The keep-alives every 15 s bring a look at the reader while nothing else happens.
        reader_gone = reader_gone || !out.reader_present();
        return !reader_gone;
      };
      runner.run(events_command(*port, options.box), stream);
    }
    if (reader_gone) return 0;
    if (said_hello) {
      followed_before = true;
      failures = 0;
      continue;
    }
    if (!followed_before) {
      const std::string where = options.port ? "port " + std::to_string(*options.port) : "8930-8940";
      fail("no loomdeck server answering on " + where,
           "Start it first: `loomdeck serve --print-url` (a server of another version is not followed).");
      return 1;
    }
    clock.sleep_for(reconnect_delay(failures++));
  }
}

int run_watch(const CommandLine& cli) {
  if (!target_option_usable(cli.args)) return 1;
  const auto filter = event_filter(option_value(cli.args, "--events"));
  if (const std::string* problem = std::get_if<std::string>(&filter)) {
    fail(*problem, "--events takes a comma-separated list of: hello, state, progress, toast, click, logbook");
    return 1;
  }
  const WatchOptions options{cli.port, option_value(cli.args, "--target"), std::get<std::vector<std::string>>(filter)};
  StdoutLines out;
  return follow_events(options, system_clock(), system_runner(), out);
}

}  // namespace loomdeck
