#include "http/event_stream.h"

#include <string>

#include "core/version.h"

namespace loomdeck {

void serve_event_stream(EventHub& hub, ServerLog& log, Stream& stream, std::chrono::milliseconds ping_every) {
  // The filler pushes the first real event past the buffering of proxies and embedded webviews.
  static const std::string kFiller = ": " + std::string(2048, 'p') + "\n\n";
  if (!stream.write(kEventStreamHead) || !stream.write(kFiller) ||
      !stream.write(event_frame("hello", json{{"version", LOOMDECK_VERSION}}))) {
    return;
  }
  const std::shared_ptr<ViewerQueue> queue = hub.subscribe();
  log.append("sse client connected");
  std::string frame;
  for (;;) {
    const ViewerQueue::Take got = queue->take(frame, ping_every);
    if (got == ViewerQueue::Take::kClosed) {
      log.append("sse client disconnected (it stopped reading; its backlog was full)");
      break;
    }
    if (!stream.write(got == ViewerQueue::Take::kFrame ? std::string_view(frame) : kPingFrame)) {
      log.append("sse client disconnected");
      break;
    }
  }
  queue->close();
}

}  // namespace loomdeck
