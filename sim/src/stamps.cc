#include "stamps.h"

#include <cstdio>
#include <ctime>

namespace sim {

namespace {
std::tm to_tm(int64_t epoch_ms) {
  std::time_t secs = static_cast<std::time_t>(epoch_ms >= 0 ? epoch_ms / 1000 : (epoch_ms - 999) / 1000);
  std::tm tm{};
  gmtime_r(&secs, &tm);
  return tm;
}
}  // namespace

std::string utc_stamp(int64_t epoch_ms) {
  std::tm tm = to_tm(epoch_ms);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

std::string utc_stamp_ms(int64_t epoch_ms) {
  int ms = static_cast<int>(((epoch_ms % 1000) + 1000) % 1000);
  char buf[16];
  std::snprintf(buf, sizeof buf, ".%03dZ", ms);
  return utc_stamp(epoch_ms) + buf;
}

std::optional<int64_t> parse_utc_stamp(const std::string& text) {
  if (text.size() < 19) return std::nullopt;
  auto field = [&](size_t pos, size_t len) -> int {
    int v = 0;
    for (size_t i = pos; i < pos + len; ++i) {
      if (text[i] < '0' || text[i] > '9') return -1;
      v = v * 10 + (text[i] - '0');
    }
    return v;
  };
  int y = field(0, 4), mo = field(5, 2), d = field(8, 2), h = field(11, 2), mi = field(14, 2), s = field(17, 2);
  if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 60)
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return static_cast<int64_t>(timegm(&tm)) * 1000;
}

}  // namespace sim
