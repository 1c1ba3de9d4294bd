#include "core/server_log.h"

#include "core/utf8.h"

namespace loomdeck {

namespace {

std::string bounded(std::string text) {
  if (text.size() <= ServerLog::kMaxLineBytes) return text;
  std::size_t cut = ServerLog::kMaxLineBytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  text += "\xE2\x80\xA6";
  return text;
}

}  // namespace

void ServerLog::append(const std::string& line) {
  std::string text = bounded(lenient_utf8(line));
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(std::move(text));
  while (lines_.size() > kMaxLines) lines_.pop_front();
}

std::vector<std::string> ServerLog::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {lines_.begin(), lines_.end()};
}

}  // namespace loomdeck
