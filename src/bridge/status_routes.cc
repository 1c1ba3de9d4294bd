#include "bridge/status_routes.h"

#include <exception>

#include "core/version.h"
#include "http/response.h"

namespace loomdeck {

namespace {

// Builds the box's status in the background and caches it when the bridge answered.
void start_warmup(const StatusContext& status, const std::string& box) {
  // Polling a box that never answers must not stack warm-ups.
  if (!status.warmups.insert(box, true)) return;
  try {
    status.in_background([status, box] {
      const json payload = server_status(status, box, false);
      if (is_true(payload, "answered")) status.cache.set(box, CachedStatus{status.clock.now(), payload});
      status.warmups.erase(box);
    });
  } catch (const std::exception&) {
    status.warmups.erase(box);
  }
}

}  // namespace

void handle_status(const StatusContext& status, const Request& request, Stream& stream) {
  const std::string box = request_box(status.boxes, request);
  if (!box_usable(stream, box)) return;
  status.log.append("status target=" + box);
  send_json(stream, live_status(status, box));
}

void handle_health(const StatusContext& status, const Request& request, Stream& stream) {
  const std::string box = request_box(status.boxes, request);
  if (!box_usable(stream, box)) return;
  if (const std::optional<CachedStatus> cached = status.cache.get(box)) {
    const json* state = member(cached->payload, "state");
    send_json(stream, json{{"state", state && state->is_string() ? *state : json("ok")},
                           {"leds", member_or_null(cached->payload, "leds")},
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
