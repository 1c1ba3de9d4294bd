#include "logbook/logbook_routes.h"

#include "core/text.h"
#include "core/utf8.h"
#include "http/response.h"

namespace loomdeck {

namespace {

constexpr const char* kLogbookHint =
    "Each entry is one change of a status LED on a box, oldest first: at (UTC), box, led (the LED's key; \"bridge\" "
    "records the bridge going \"silent\" and \"answering\" again), label, from (null the first time the box was "
    "seen), to, and hint (the LED's _hint at that moment). Subscribe to /events (SSE): each new entry arrives there "
    "as a \"logbook\" event.";

}  // namespace

LogbookLimit logbook_limit(std::optional<std::string_view> raw) {
  if (!raw) return {};
  const std::optional<unsigned long long> value = parse_digits(*raw, 5);
  if (!value || *value < 1 || *value > kLogbookKeep) {
    return {0, "limit must be a whole number from 1 to " + std::to_string(kLogbookKeep) + ", not \"" +
                   utf8_prefix(lenient_utf8(*raw), 40) + "\""};
  }
  return {static_cast<std::size_t>(*value), std::nullopt};
}

void handle_logbook(const Logbook& logbook, std::optional<std::string> box, const Request& request, Stream& stream) {
  const LogbookLimit limit = logbook_limit(raw_query_param(request.query, "limit"));
  if (limit.problem) {
    respond(stream, "400 Bad Request", "application/json",
            dump_compact(json{{"ok", false},
                              {"error", *limit.problem},
                              {"_hint",
                               "Leave limit out for the newest 200 entries, or ask for up to 2000, e.g. "
                               "GET /api/logbook?target=Studio&limit=50."}}));
    return;
  }
  if (box && box->empty()) box.reset();
  send_json(stream, json{{"entries", logbook.newest(box, limit.value)}, {"_hint", kLogbookHint}});
}

}  // namespace loomdeck
