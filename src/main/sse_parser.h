#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace loomdeck {

// One event of a Server-Sent Events stream.
struct SseEvent {
  std::string name;  // "message" when the frame names none
  std::string data;  // the data lines joined by "\n"
};

// The longest line, and the most data of one event, that a stream may send; past it the event
// is dropped whole (the server's own stream of one viewer is bounded to 16 MiB).
inline constexpr std::size_t kMaxSseBytes = 16u << 20;

// Cuts a stream arriving in pieces of any size into its events. Comments (the filler that opens
// a stream, keep-alives) and fields other than `event` and `data` are skipped; lines may end in
// "\n" or "\r\n"; a frame without data is no event.
class SseParser {
 public:
  // The events the piece completes, in order.
  std::vector<SseEvent> feed(std::string_view piece);

 private:
  void take_line(std::string_view line, std::vector<SseEvent>& events);

  std::string line_;
  bool line_too_long_ = false;
  std::string name_;
  std::string data_;
  bool has_data_ = false;
  bool dropped_ = false;
};

}  // namespace loomdeck
