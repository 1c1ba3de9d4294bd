#include "bridge/status_routes.h"

#include <exception>

#include "core/version.h"
#include "http/response.h"

namespace loomdeck {

namespace {

// Builds the box's status in the background and caches it when the bridge answered.
void start_warmup(StatusService& status, const std::string& box) {
  // Polling a box that never answers must not stack warm-ups.
  if (!status.warmups.insert(box, true)) return;
  try {
    status.in_background([&status, box] {
      const BoxStatus built = server_status(status, box, false);
      if (built.answered) status.cache.set(box, CachedStatus{status.clock.now(), built});
      status.warmups.erase(box);
    });
  } catch (const std::exception&) {
    status.warmups.erase(box);
  }
}

}  // namespace

void handle_status(StatusService& status, const Request& request, Stream& stream) {
  const std::string box = request_box(status.boxes, request);
  if (!box_usable(stream, box)) return;
  status.log.append("status target=" + box);
  send_json(stream, json(live_status(status, box)));
}

void handle_health(StatusService& status, const Request& request, Stream& stream) {
  const std::string box = request_box(status.boxes, request);
  if (!box_usable(stream, box)) return;
  if (const std::optional<CachedStatus> cached = status.cache.get(box)) {
    send_json(stream, json{{"state", cached->status.overall},
                           {"leds", leds_json(cached->status)},
                           {"cachedAgeSec", whole_seconds(cached->verified_at, status.clock.now())},
                           {"dashboardVersion", LOOMDECK_VERSION}});
    return;
  }
  send_json(stream, json{{"state", "unknown"},
                         {"detail", "no status gathered yet - warming in the background"},
                         {"dashboardVersion", LOOMDECK_VERSION}});
  start_warmup(status, box);
}

}  // namespace loomdeck
