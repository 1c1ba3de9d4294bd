#include "http/event_stream.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/version.h"

namespace loomdeck {

namespace {

// While a stream is open its thread is scheduled as a batch thread, which never preempts the
// running one when it wakes: a broadcast then offers its frame to every queue in one go and
// its sender replies at once, instead of being interrupted by each stream it wakes. The thread
// is a normal one again when the stream ends (it goes on to serve other connections).
class BatchScheduling {
 public:
  BatchScheduling() {
    const sched_param param{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &param);
  }
  ~BatchScheduling() {
    const sched_param param{};
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
  }
  BatchScheduling(const BatchScheduling&) = delete;
  BatchScheduling& operator=(const BatchScheduling&) = delete;
};

}  // namespace

void serve_event_stream(EventHub& hub, ServerLog& log, Stream& stream, std::chrono::milliseconds ping_every) {
  // The filler pushes the first real event past the buffering of proxies and embedded webviews.
  static const std::string kFiller = ": " + std::string(2048, 'p') + "\n\n";
  const std::string hello = event_frame("hello", json{{"version", LOOMDECK_VERSION}});
  if (!stream.write({kEventStreamHead, std::string_view(kFiller), std::string_view(hello)})) return;
  const BatchScheduling batch;
  const std::shared_ptr<ViewerQueue> queue = hub.subscribe();
  log.append("sse client connected");
  // Everything queued since the last wake-up goes out in one write.
  std::vector<Frame> frames;
  std::vector<std::string_view> parts;
  // A quiet stream looks for a hang-up every second, so a page that went away gives its slot back
  // at once rather than at the next keep-alive.
  const std::chrono::milliseconds look_every = std::min<std::chrono::milliseconds>(ping_every, kHangupCheck);
  std::chrono::milliseconds silence{0};
  for (;;) {
    const ViewerQueue::Take got = queue->take(frames, look_every);
    if (got == ViewerQueue::Take::kClosed) {
      log.append("sse client disconnected (it stopped reading; its backlog was full)");
      break;
    }
    if (stream.hung_up()) {
      log.append("sse client disconnected");
      break;
    }
    parts.clear();
    if (got == ViewerQueue::Take::kTimeout) {
      silence += look_every;
      if (silence < ping_every) continue;
      parts.push_back(kPingFrame);
    }
    silence = std::chrono::milliseconds(0);
    for (const Frame& frame : frames) parts.push_back(*frame);
    if (!stream.write(std::span<const std::string_view>(parts))) {
      log.append("sse client disconnected");
      break;
    }
  }
  queue->close();
}

}  // namespace loomdeck
