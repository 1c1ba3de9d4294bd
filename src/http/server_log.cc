#include "http/server_log.h"

#include "core/utf8.h"

namespace loomdeck {

void ServerLog::append(std::string line) {
  std::string text = lenient_utf8(line);
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(std::move(text));
  while (lines_.size() > kMaxLines) lines_.pop_front();
}

std::vector<std::string> ServerLog::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {lines_.begin(), lines_.end()};
}

}  // namespace loomdeck
