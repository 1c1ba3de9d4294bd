#include "control.h"

#include "model.h"
#include "stamps.h"

namespace sim {

namespace {
void shift_stamp(std::string& stamp, int64_t ms) {
  if (auto t = parse_utc_stamp(stamp)) stamp = utc_stamp(*t - ms);
}
}  // namespace

std::optional<std::pair<std::string, json>> parse_assignment(const std::string& word) {
  size_t eq = word.find('=');
  if (eq == std::string::npos || eq == 0) return std::nullopt;
  std::string key = word.substr(0, eq), text = word.substr(eq + 1);
  auto value = parse(text);
  return std::make_pair(key, value ? *value : json(to_valid_utf8(text)));
}

std::string apply_set(Box& box, const std::string& key, const json& value) {
  json state = box_to_json(box);
  if (!state.contains(key)) return "unknown key " + key + " (sim show <box> lists every key)";
  state[key] = value;
  std::string error;
  auto updated = box_from_json(state, &error);
  if (!updated) return error;
  box = *updated;
  return "";
}

void shift_box(Box& box, int64_t ms) {
  if (box.launch) box.launch->started_at_ms -= ms;
  for (auto& op : box.ops) op.until_ms -= ms;
  if (box.tour) box.tour->step_started_at_ms -= ms;
  if (box.last_exit_at_ms) box.last_exit_at_ms -= ms;
  shift_stamp(box.last_ready_at, ms);
  shift_stamp(box.last_signed_in_at, ms);
  shift_stamp(box.mcp_last_enabled_at, ms);
}

void enter_password(Box& box, int64_t now_ms) {
  box.needs_signin = false;
  box.signin_wall.clear();
  if (box.running) box.last_signed_in_at = utc_stamp(now_ms);
}

void make_busy(Box& box, double seconds, const std::string& label, int64_t now_ms) {
  add_op(box, label, json::object(), now_ms + seconds_to_ms(seconds), true);
}

}  // namespace sim
