#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace loomdeck {

// The server's activity log: plain lines, newest last, the newest 500 kept. It is what
// /console and `loomdeck ui console` show, so procedures narrate their work here.
class ServerLog {
 public:
  static constexpr std::size_t kMaxLines = 500;
  // Longer lines are cut at a character boundary and end in "\u2026", so 500 lines stay small
  // even when every one is a 1 MiB toast.
  static constexpr std::size_t kMaxLineBytes = 4096;

  // The line is decoded leniently first, so no request can poison /console.
  void append(const std::string& line);
  std::vector<std::string> lines() const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::string> lines_;
};

}  // namespace loomdeck
