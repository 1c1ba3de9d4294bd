#include "http/event_stream.h"

#include <string>
#include <vector>

#include "core/version.h"

namespace loomdeck {

void serve_event_stream(EventHub& hub, ServerLog& log, Stream& stream, std::chrono::milliseconds ping_every) {
  // The filler pushes the first real event past the buffering of proxies and embedded webviews.
  static const std::string kFiller = ": " + std::string(2048, 'p') + "\n\n";
  const std::string hello = event_frame("hello", json{{"version", LOOMDECK_VERSION}});
  if (!stream.write({kEventStreamHead, std::string_view(kFiller), std::string_view(hello)})) return;
  const std::shared_ptr<ViewerQueue> queue = hub.subscribe();
  log.append("sse client connected");
  // Everything queued since the last wake-up goes out in one write.
  std::vector<Frame> frames;
  std::vector<std::string_view> parts;
  for (;;) {
    const ViewerQueue::Take got = queue->take(frames, ping_every);
    if (got == ViewerQueue::Take::kClosed) {
      log.append("sse client disconnected (it stopped reading; its backlog was full)");
      break;
    }
    parts.clear();
    if (got == ViewerQueue::Take::kTimeout) parts.push_back(kPingFrame);
    for (const Frame& frame : frames) parts.push_back(*frame);
    if (!stream.write(std::span<const std::string_view>(parts))) {
      log.append("sse client disconnected");
      break;
    }
  }
  queue->close();
}

}  // namespace loomdeck
