#include "box.h"

namespace sim {

namespace {

json launch_to_json(const Launch& l) {
  return {{"startedAtMs", l.started_at_ms}, {"durationMs", l.duration_ms}, {"processUpMs", l.process_up_ms},
          {"takes", l.takes},  {"failure", l.failure},   {"silent", l.silent},
          {"kind", l.kind},    {"estimateSec", l.estimate_sec}};
}

json tour_to_json(const Tour& t) {
  json shots = json::array();
  for (const auto& s : t.shots) shots.push_back({{"index", s.index}, {"step", s.step}, {"label", s.label}});
  return {{"demoId", t.demo_id},   {"position", t.position},     {"stepStartedAtMs", t.step_started_at_ms},
          {"stepMs", t.step_ms},   {"paused", t.paused},         {"pauseRequested", t.pause_requested},
          {"skipped", t.skipped},  {"shots", shots},             {"done", t.done},
          {"failed", t.failed},    {"exited", t.exited},         {"error", t.error},
          {"documents", t.documents}};
}

// Strict member reader: a member that is present must have the expected type; the first
// mismatch is remembered and reported by the caller.
class Reader {
 public:
  Reader(const json& obj, std::string prefix) : obj_(obj), prefix_(std::move(prefix)) {}
  const std::string& error() const { return error_; }
  void fail(const std::string& key, const char* what) {
    if (error_.empty()) error_ = prefix_ + key + " must be " + what;
  }

  void get(const char* key, bool& out) {
    if (auto* v = find(key)) v->is_boolean() ? void(out = v->get<bool>()) : fail(key, "true or false");
  }
  void get(const char* key, std::string& out) {
    if (auto* v = find(key)) {
      if (v->is_string()) out = v->get<std::string>();
      else if (v->is_null()) out.clear();
      else fail(key, "a string");
    }
  }
  void get(const char* key, double& out) {
    if (auto* v = find(key)) {
      if (v->is_number() && v->get<double>() >= 0) out = v->get<double>();
      else fail(key, "a number of seconds (0 or more)");
    }
  }
  void get(const char* key, int64_t& out) {
    if (auto* v = find(key)) v->is_number_integer() ? void(out = v->get<int64_t>()) : fail(key, "an integer");
  }
  void get(const char* key, int& out) {
    int64_t wide = out;
    get(key, wide);
    out = static_cast<int>(wide);
  }
  void get(const char* key, std::vector<std::string>& out) {
    if (auto* v = find(key)) {
      if (!v->is_array()) return fail(key, "an array of strings");
      std::vector<std::string> items;
      for (const auto& e : *v) {
        if (!e.is_string()) return fail(key, "an array of strings");
        items.push_back(e.get<std::string>());
      }
      out = std::move(items);
    }
  }
  void get(const char* key, std::vector<double>& out) {
    if (auto* v = find(key)) {
      if (!v->is_array()) return fail(key, "an array of numbers");
      std::vector<double> items;
      for (const auto& e : *v) {
        if (!e.is_number()) return fail(key, "an array of numbers");
        items.push_back(e.get<double>());
      }
      out = std::move(items);
    }
  }
  void get(const char* key, std::vector<int>& out) {
    if (auto* v = find(key)) {
      if (!v->is_array()) return fail(key, "an array of integers");
      std::vector<int> items;
      for (const auto& e : *v) {
        if (!e.is_number_integer()) return fail(key, "an array of integers");
        items.push_back(e.get<int>());
      }
      out = std::move(items);
    }
  }
  void get(const char* key, std::map<std::string, int64_t>& out) {
    if (auto* v = find(key)) {
      if (!v->is_object()) return fail(key, "an object of sizes");
      std::map<std::string, int64_t> items;
      for (auto it = v->begin(); it != v->end(); ++it) {
        if (!it->is_number_integer()) return fail(key, "an object of sizes");
        items[it.key()] = it->get<int64_t>();
      }
      out = std::move(items);
    }
  }
  void get(const char* key, std::map<std::string, std::string>& out) {
    if (auto* v = find(key)) {
      if (!v->is_object()) return fail(key, "an object of strings");
      std::map<std::string, std::string> items;
      for (auto it = v->begin(); it != v->end(); ++it) {
        if (!it->is_string()) return fail(key, "an object of strings");
        items[it.key()] = it->get<std::string>();
      }
      out = std::move(items);
    }
  }
  // Objects that are null or an object of any shape.
  void get_object_or_null(const char* key, json& out) {
    if (auto* v = find(key)) (v->is_null() || v->is_object()) ? void(out = *v) : fail(key, "an object or null");
  }
  const json* find(const char* key) const {
    if (!obj_.is_object()) return nullptr;
    auto it = obj_.find(key);
    return it == obj_.end() ? nullptr : &*it;
  }

 private:
  const json& obj_;
  std::string prefix_;
  std::string error_;
};

std::optional<Launch> read_launch(const json& j, std::string* error) {
  Reader r(j, "launch.");
  Launch l;
  r.get("startedAtMs", l.started_at_ms);
  r.get("durationMs", l.duration_ms);
  r.get("processUpMs", l.process_up_ms);
  r.get("takes", l.takes);
  r.get("failure", l.failure);
  r.get("silent", l.silent);
  r.get("kind", l.kind);
  r.get("estimateSec", l.estimate_sec);
  if (!r.error().empty()) {
    *error = r.error();
    return std::nullopt;
  }
  return l;
}

std::optional<Tour> read_tour(const json& j, std::string* error) {
  Reader r(j, "tour.");
  Tour t;
  r.get("demoId", t.demo_id);
  r.get("position", t.position);
  r.get("stepStartedAtMs", t.step_started_at_ms);
  r.get("stepMs", t.step_ms);
  r.get("paused", t.paused);
  r.get("pauseRequested", t.pause_requested);
  r.get("skipped", t.skipped);
  r.get("done", t.done);
  r.get("failed", t.failed);
  r.get("exited", t.exited);
  r.get("error", t.error);
  r.get("documents", t.documents);
  if (const json* shots = r.find("shots")) {
    if (!shots->is_array()) r.fail("shots", "an array");
    else
      for (const auto& s : *shots)
        t.shots.push_back({static_cast<int>(int_at(s, "index", 0)), string_at(s, "step"), string_at(s, "label")});
  }
  if (!r.error().empty()) {
    *error = r.error();
    return std::nullopt;
  }
  return t;
}

}  // namespace

json box_to_json(const Box& b) {
  json ops = json::array();
  for (const auto& op : b.ops)
    ops.push_back({{"id", op.id}, {"verb", op.verb}, {"untilMs", op.until_ms}, {"args", op.args}, {"mainThread", op.main_thread}});
  json results = json::array();
  for (const auto& r : b.op_results) results.push_back({{"id", r.id}, {"answer", r.answer}});
  return {
      {"installed", b.installed},
      {"running", b.running},
      {"addinSilent", b.addin_silent},
      {"addinSilentLaunches", b.addin_silent_launches},
      {"launchSeconds", b.launch_seconds},
      {"launchesTake", b.launches_take},
      {"launch", b.launch ? launch_to_json(*b.launch) : json(nullptr)},
      {"launchHistory", b.launch_history},
      {"lastExitAtMs", b.last_exit_at_ms},
      {"lastLaunchError", b.last_launch_error},
      {"suspended", b.suspended},
      {"suspendedBy", b.suspended_by},
      {"blockingDialogs", b.blocking_dialogs},
      {"documents", b.documents},
      {"fusionUpdateOffered", b.update_offered},
      {"fusionUpdateHandled", b.update_handled},
      {"bridgeVersion", b.bridge_version},
      {"addinVersion", b.addin_version},
      {"fusionVersion", b.fusion_version},
      {"bridgeResponsive", b.bridge_responsive},
      {"relayWindowSeconds", b.relay_window_seconds},
      {"needsSignin", b.needs_signin},
      {"signinWall", b.signin_wall},
      {"signinSeconds", b.signin_seconds},
      {"fusionUser", b.fusion_user},
      {"lastReadyAt", b.last_ready_at},
      {"lastSignedInAt", b.last_signed_in_at},
      {"autoUpdateFusion", b.auto_update_fusion},
      {"autoTakeOverSeat", b.auto_take_over_seat},
      {"showDrivingBadge", b.show_driving_badge},
      {"activityIndicator", b.activity_indicator},
      {"apsConfigured", b.aps_configured},
      {"apsSignedIn", b.aps_signed_in},
      {"apsEmail", b.aps_email},
      {"apsName", b.aps_name},
      {"apsSigninSeconds", b.aps_signin_seconds},
      {"mcpEnabled", b.mcp_enabled},
      {"mcpLastEnabledAt", b.mcp_last_enabled_at},
      {"mcpEnableSeconds", b.mcp_enable_seconds},
      {"files", b.files},
      {"boundModels", b.bound_models},
      {"testProject", b.test_project},
      {"view", b.view},
      {"projectSeconds", b.project_seconds},
      {"surfaceSeconds", b.surface_seconds},
      {"openLbrSeconds", b.open_lbr_seconds},
      {"bindSeconds", b.bind_seconds},
      {"captureBlank", b.capture_blank},
      {"tour", b.tour ? tour_to_json(*b.tour) : json(nullptr)},
      {"tourStepSeconds", b.tour_step_seconds},
      {"tourFailAtStep", b.tour_fail_at_step},
      {"ops", ops},
      {"opResults", results},
      {"nextOp", b.next_op},
      {"calls", b.calls},
      {"pupWindows", b.pup_windows},
  };
}

std::optional<Box> box_from_json(const json& j, std::string* error) {
  if (!j.is_object()) {
    *error = "box state must be a JSON object";
    return std::nullopt;
  }
  Box b;
  Reader r(j, "");
  r.get("installed", b.installed);
  r.get("running", b.running);
  r.get("addinSilent", b.addin_silent);
  r.get("addinSilentLaunches", b.addin_silent_launches);
  r.get("launchSeconds", b.launch_seconds);
  r.get("launchesTake", b.launches_take);
  r.get("launchHistory", b.launch_history);
  r.get("lastExitAtMs", b.last_exit_at_ms);
  r.get("lastLaunchError", b.last_launch_error);
  r.get("suspended", b.suspended);
  r.get("suspendedBy", b.suspended_by);
  r.get("blockingDialogs", b.blocking_dialogs);
  r.get("documents", b.documents);
  r.get("fusionUpdateOffered", b.update_offered);
  r.get("fusionUpdateHandled", b.update_handled);
  r.get("bridgeVersion", b.bridge_version);
  r.get("addinVersion", b.addin_version);
  r.get("fusionVersion", b.fusion_version);
  r.get("bridgeResponsive", b.bridge_responsive);
  r.get("relayWindowSeconds", b.relay_window_seconds);
  r.get("needsSignin", b.needs_signin);
  r.get("signinWall", b.signin_wall);
  r.get("signinSeconds", b.signin_seconds);
  r.get("fusionUser", b.fusion_user);
  r.get("lastReadyAt", b.last_ready_at);
  r.get("lastSignedInAt", b.last_signed_in_at);
  r.get("autoUpdateFusion", b.auto_update_fusion);
  r.get("autoTakeOverSeat", b.auto_take_over_seat);
  r.get("showDrivingBadge", b.show_driving_badge);
  r.get("activityIndicator", b.activity_indicator);
  r.get("apsConfigured", b.aps_configured);
  r.get("apsSignedIn", b.aps_signed_in);
  r.get("apsEmail", b.aps_email);
  r.get("apsName", b.aps_name);
  r.get("apsSigninSeconds", b.aps_signin_seconds);
  r.get("mcpEnabled", b.mcp_enabled);
  r.get("mcpLastEnabledAt", b.mcp_last_enabled_at);
  r.get("mcpEnableSeconds", b.mcp_enable_seconds);
  r.get("files", b.files);
  r.get("boundModels", b.bound_models);
  r.get_object_or_null("testProject", b.test_project);
  r.get_object_or_null("view", b.view);
  r.get("projectSeconds", b.project_seconds);
  r.get("surfaceSeconds", b.surface_seconds);
  r.get("openLbrSeconds", b.open_lbr_seconds);
  r.get("bindSeconds", b.bind_seconds);
  r.get("captureBlank", b.capture_blank);
  r.get("tourStepSeconds", b.tour_step_seconds);
  r.get("tourFailAtStep", b.tour_fail_at_step);
  r.get("nextOp", b.next_op);
  r.get("calls", b.calls);
  r.get("pupWindows", b.pup_windows);
  if (!r.error().empty()) {
    *error = r.error();
    return std::nullopt;
  }
  if (const json* l = r.find("launch"); l && !l->is_null()) {
    if (!l->is_object()) {
      *error = "launch must be an object or null";
      return std::nullopt;
    }
    b.launch = read_launch(*l, error);
    if (!b.launch) return std::nullopt;
  }
  if (const json* t = r.find("tour"); t && !t->is_null()) {
    if (!t->is_object()) {
      *error = "tour must be an object or null";
      return std::nullopt;
    }
    b.tour = read_tour(*t, error);
    if (!b.tour) return std::nullopt;
  }
  if (const json* ops = r.find("ops")) {
    if (!ops->is_array()) {
      *error = "ops must be an array";
      return std::nullopt;
    }
    for (const auto& o : *ops) {
      Op op{string_at(o, "id"), string_at(o, "verb"), int_at(o, "untilMs", 0),
            o.is_object() && o.contains("args") ? o["args"] : json::object(), bool_at(o, "mainThread", true)};
      b.ops.push_back(std::move(op));
    }
  }
  if (const json* results = r.find("opResults"); results && results->is_array())
    for (const auto& o : *results)
      b.op_results.push_back({string_at(o, "id"), o.is_object() && o.contains("answer") ? o["answer"] : json(nullptr)});
  return b;
}

}  // namespace sim
