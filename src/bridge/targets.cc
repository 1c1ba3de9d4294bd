#include "bridge/targets.h"

#include <utility>
#include <vector>

#include "bridge/readiness.h"
#include "core/box_name.h"
#include "core/text.h"
#include "http/response.h"

namespace loomdeck {

namespace {

std::vector<std::string> box_names(const std::optional<json>& listing) {
  std::vector<std::string> names;
  if (!listing) return names;
  const json* targets = member(*listing, "targets");
  if (!targets || !targets->is_array()) return names;
  for (const json& t : *targets) {
    const json* name = member(t, "name");
    if (name && name->is_string()) names.push_back(name->get<std::string>());
  }
  return names;
}

json list_targets(const BridgeClient& bridge) {
  json targets = json::array();
  const std::optional<json> listing = bridge.targets();
  const json* list = listing ? member(*listing, "targets") : nullptr;
  if (list && list->is_array()) {
    for (const json& t : *list) {
      const std::string name = string_member(t, "name");
      const json r = bridge.call(name, tool::kReadiness).data;
      targets.push_back({{"name", name},
                         {"running", member_or_null(r, "running")},
                         {"ready", member_or_null(r, "ready")},
                         {"lastReadyAt", member_or_null(r, "lastReadyAt")}});
    }
  }
  return json{
      {"targets", targets},
      {"_hint",
       "One Autodesk seat: start Fusion on whichever box suits the moment - the seat follows automatically (the other "
       "box's Fusion suspends resumably). Pass ?target=<name> on /api/status and target in /api/action bodies."}};
}

}  // namespace

std::vector<std::string> listed_box_names(Bridge& bridge) { return box_names(bridge.targets()); }

std::string pick_best_box(Bridge& bridge) {
  const std::vector<std::string> names = box_names(bridge.targets());
  if (names.empty()) return "";
  if (names.size() == 1) return names[0];
  const BridgeClient client{bridge, "loomdeck"};
  std::string best;
  int best_score = 0;
  for (const std::string& name : names) {
    const Readiness r = read_readiness(client, name);
    const json a = client.call(name, tool::kApsStatus).data;
    const int score = r.ready ? 4 : r.running ? 3 : is_true(a, "signedIn") ? 2 : 1;
    if (score > best_score) {
      best_score = score;
      best = name;
    }
  }
  return best;
}

std::string default_box(const BoxChoice& boxes) {
  if (!boxes.default_target.empty()) return boxes.default_target;
  return boxes.picks.run("", [&boxes] { return pick_best_box(boxes.bridge); }).value_or("");
}

std::optional<std::string> named_box(std::string_view query) {
  const std::optional<std::string_view> raw = raw_query_param(query, "target");
  if (!raw) return std::nullopt;
  return decode_query_value(*raw, QueryEscapes::kSpaceOnly);
}

std::string request_box(const BoxChoice& boxes, const Request& request) {
  if (std::optional<std::string> box = named_box(request.query)) return std::move(*box);
  return default_box(boxes);
}

bool box_usable(Stream& stream, const std::string& box) {
  const std::optional<std::string> problem = box_name_problem(box);
  if (problem) send_json(stream, box_name_refusal(*problem));
  return !problem;
}

void handle_targets(const BridgeClient& bridge, Clock& clock, TargetListings& listings, const Request& request,
                    Stream& stream) {
  if (raw_query_param(request.query, "shared") == "1") {
    const std::optional<TargetListing> last = listings.get("");
    if (last && clock.now() - last->taken < kSharedListingAge) {
      send_json(stream, last->reply);
      return;
    }
  }
  const json reply = list_targets(bridge);
  listings.set("", TargetListing{clock.now(), reply});
  send_json(stream, reply);
}

}  // namespace loomdeck
