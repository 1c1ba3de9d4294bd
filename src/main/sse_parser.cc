#include "main/sse_parser.h"

namespace loomdeck {

std::vector<SseEvent> SseParser::feed(std::string_view piece) {
  std::vector<SseEvent> events;
  while (!piece.empty()) {
    const std::size_t nl = piece.find('\n');
    const std::string_view part = piece.substr(0, nl);
    if (!line_too_long_ && line_.size() + part.size() > kMaxSseBytes) {
      line_too_long_ = true;
      dropped_ = true;
      line_.clear();
    }
    if (!line_too_long_) line_.append(part);
    if (nl == std::string_view::npos) break;
    piece.remove_prefix(nl + 1);
    if (!line_too_long_) take_line(line_, events);
    line_too_long_ = false;
    line_.clear();
  }
  return events;
}

void SseParser::take_line(std::string_view line, std::vector<SseEvent>& events) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.empty()) {
    if (has_data_ && !dropped_) events.push_back({name_.empty() ? "message" : name_, data_});
    name_.clear();
    data_.clear();
    has_data_ = false;
    dropped_ = false;
    return;
  }
  if (line.starts_with(':')) return;
  const std::size_t colon = line.find(':');
  const std::string_view field = line.substr(0, colon);
  std::string_view value = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
  if (value.starts_with(' ')) value.remove_prefix(1);
  if (field == "event") {
    name_ = value;
  } else if (field == "data") {
    if (data_.size() + value.size() + 1 > kMaxSseBytes) {
      dropped_ = true;
      data_.clear();
    } else {
      if (has_data_) data_ += '\n';
      data_ += value;
    }
    has_data_ = true;
  }
}

}  // namespace loomdeck
