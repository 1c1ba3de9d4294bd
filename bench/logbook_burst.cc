// Feeds the logbook a burst of LED changes straight from status payloads and prints what it holds:
// entries in memory, resident memory, and the sizes of the file and its previous file.
// Usage: logbook_burst <logbook file> [changes, default 10000]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/event_sink.h"
#include "logbook/logbook.h"
#include "logbook/logbook_file.h"

namespace {

class CountingSink : public loomdeck::EventSink {
 public:
  void broadcast(std::string_view, const loomdeck::json&) override { ++count; }
  long count = 0;
};

long rss_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

long long size_of(const std::string& path) {
  std::error_code ec;
  const auto n = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<long long>(n);
}

// The payload of a box's `turn`-th status: LED k is on when bit k of the turn's Gray code is set,
// so each turn flips exactly one LED.
loomdeck::json burst_payload(const std::string& box, long turn) {
  const long gray = turn ^ (turn >> 1);
  static const char* const kKeys[] = {"fusionRunning", "addinReady", "signedIn", "aps", "mcp", "datahub", "update"};
  loomdeck::json leds = loomdeck::json::object();
  for (int k = 0; k < 7; ++k) {
    const bool on = ((gray >> k) & 1) != 0;
    leds[kKeys[k]] = {{"label", std::string("LED ") + kKeys[k]},
                      {"state", on ? "on" : "off"},
                      {"_hint", std::string(on ? "Serving. " : "Not serving: ") + std::string(180, 'h')}};
  }
  return {{"target", box}, {"answered", true}, {"leds", leds}};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: logbook_burst <logbook file> [changes]\n");
    return 2;
  }
  const std::string path = argv[1];
  const long changes = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 10000;
  CountingSink sink;
  const long rss_start = rss_kib();
  long recorded = 0;
  const auto t0 = std::chrono::steady_clock::now();
  {
    loomdeck::Logbook book(sink);
    book.attach(std::make_shared<loomdeck::LogbookFile>(path));
    const auto now = std::chrono::system_clock::now();
    // Four boxes take turns; after each box's first sight every payload is one change.
    for (long i = 0; sink.count < changes; ++i) book.record(burst_payload("Box" + std::to_string(i % 4), i / 4), now);
    recorded = sink.count;
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("burst: %ld changes recorded in %.2f s (%.0f per second)\n", recorded, secs, recorded / secs);
    std::printf("  entries in memory: %zu (kept: %zu)\n", book.newest(std::nullopt, 1000000).size(), loomdeck::kLogbookKeep);
    std::printf("  resident memory: %ld KiB at start, %ld KiB after the burst\n", rss_start, rss_kib());
  }
  std::printf("  %s: %lld bytes; %s.1: %lld bytes (rotation at %zu)\n", path.c_str(), size_of(path), path.c_str(),
              size_of(path + ".1"), loomdeck::kLogbookRotateBytes);
  const auto t1 = std::chrono::steady_clock::now();
  loomdeck::Logbook again(sink);
  again.attach(std::make_shared<loomdeck::LogbookFile>(path));
  const double load_secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
  std::printf("reload: %zu entries back in %.3f s; resident memory %ld KiB\n", again.newest(std::nullopt, 1000000).size(),
              load_secs, rss_kib());
  return 0;
}
