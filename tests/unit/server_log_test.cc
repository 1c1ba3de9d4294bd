#include "core/server_log.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace loomdeck {
namespace {

TEST(ServerLog, KeepsTheNewest500Lines) {
  ServerLog log;
  for (int i = 0; i < 503; ++i) log.append("line " + std::to_string(i));
  const std::vector<std::string> lines = log.lines();
  ASSERT_EQ(lines.size(), 500u);
  EXPECT_EQ(lines.front(), "line 3");
  EXPECT_EQ(lines.back(), "line 502");
}

TEST(ServerLog, LongLinesAreCutAtACharacterBoundary) {
  ServerLog log;
  log.append("toast [info] " + std::string(ServerLog::kMaxLineBytes, 'm'));
  // 4095 bytes of text, then a two-byte character that would straddle the limit.
  log.append(std::string(ServerLog::kMaxLineBytes - 1, 'a') + "\xC3\xA9" + "tail");
  log.append(std::string(ServerLog::kMaxLineBytes, 'x'));
  const std::vector<std::string> lines = log.lines();
  EXPECT_EQ(lines[0], "toast [info] " + std::string(ServerLog::kMaxLineBytes - 13, 'm') + "\xE2\x80\xA6");
  EXPECT_EQ(lines[1], std::string(ServerLog::kMaxLineBytes - 1, 'a') + "\xE2\x80\xA6");
  EXPECT_EQ(lines[2], std::string(ServerLog::kMaxLineBytes, 'x'));
}

TEST(ServerLog, InvalidUtf8IsReplaced) {
  ServerLog log;
  log.append("toast [info] \xC3\x28");
  EXPECT_EQ(log.lines().back(), "toast [info] \xEF\xBF\xBD(");
}

TEST(ServerLog, ConcurrentAppendsAndReadsKeepTheBound) {
  ServerLog log;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 300; ++i) {
        log.append(std::to_string(t) + ":" + std::to_string(i));
        if (i % 50 == 0) {
          EXPECT_LE(log.lines().size(), ServerLog::kMaxLines);
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(log.lines().size(), ServerLog::kMaxLines);
}

}  // namespace
}  // namespace loomdeck
