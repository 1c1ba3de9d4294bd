#include "bridge/targets.h"

#include <vector>

#include "core/box_name.h"
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

}  // namespace

std::string pick_best_box(Bridge& bridge) {
  const std::vector<std::string> names = box_names(bridge.targets());
  if (names.empty()) return "";
  if (names.size() == 1) return names[0];
  std::string best;
  int best_score = 0;
  for (const std::string& name : names) {
    const json r = unwrap_bridge_data(bridge.call("loomdeck", name, "fusion_readiness", "{}"));
    const json a = unwrap_bridge_data(bridge.call("loomdeck", name, "fusion_aps_status", "{}"));
    const int score = is_true(r, "ready") ? 4 : is_true(r, "running") ? 3 : is_true(a, "signedIn") ? 2 : 1;
    if (score > best_score) {
      best_score = score;
      best = name;
    }
  }
  return best;
}

std::string default_box(ServerState& state) {
  if (!state.default_target.empty()) return state.default_target;
  return state.default_box_picks.run("", [&state] { return pick_best_box(state.bridge); }).value_or("");
}

std::string request_box(Exchange& ex) {
  if (ex.request.target_param) return *ex.request.target_param;
  return default_box(ex.state);
}

bool box_usable(Exchange& ex, const std::string& box) {
  const std::optional<std::string> problem = box_name_problem(box);
  if (problem) send_json(ex.stream, box_name_refusal(*problem));
  return !problem;
}

void handle_targets(Exchange& ex) {
  json targets = json::array();
  const std::optional<json> listing = ex.state.bridge.targets();
  const json* list = listing ? member(*listing, "targets") : nullptr;
  if (list && list->is_array()) {
    for (const json& t : *list) {
      const std::string name = string_member(t, "name");
      const json r = unwrap_bridge_data(ex.state.bridge.call(ex.state.attribution, name, "fusion_readiness", "{}"));
      targets.push_back({{"name", name},
                         {"running", member_or_null(r, "running")},
                         {"ready", member_or_null(r, "ready")},
                         {"lastReadyAt", member_or_null(r, "lastReadyAt")}});
    }
  }
  send_json(ex.stream, json{{"targets", targets},
                            {"_hint", "One Autodesk seat: start Fusion on whichever box suits the moment - the seat follows automatically (the other box's Fusion suspends resumably). Pass ?target=<name> on /api/status and target in /api/action bodies."}});
}

}  // namespace loomdeck
