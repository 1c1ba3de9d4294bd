#include "bridge/readiness.h"

#include "bridge/bridge_client.h"
#include "core/text.h"

namespace loomdeck {

Readiness readiness_of(const json& r, bool launch_in_flight) {
  Readiness out;
  out.launching = bool_member(r, "launching").value_or(launch_in_flight);
  out.signin_wall = string_member(r, "signinWall");
  const std::optional<bool> running = bool_member(r, "fusionRunning");
  out.running = running.value_or(bool_member(r, "running").value_or(false));
  out.stopped = is_false(r, "running");
  out.ready = is_true(r, "ready");
  out.needs_signin = is_true(r, "needsSignin");
  out.update_offered = is_true(r, "fusionUpdateOffered");
  out.update_handled = is_true(r, "fusionUpdateHandled");
  out.addin_version = string_member(r, "addinVersion");
  out.last_signed_in_at = string_member(r, "lastSignedInAt");
  out.last_ready_at = string_member(r, "lastReadyAt");
  if (const json* user = member(r, "fusionUser")) out.fusion_user = string_member(*user, "user");
  out.progress = member_or_null(r, "progress");
  return out;
}

Readiness read_readiness(const BridgeClient& bridge, const std::string& box) {
  return readiness_of(bridge.call(box, tool::kReadiness).data);
}

bool main_thread_free(const json& state) {
  const json* busy = member(state, "mainThreadBusy");
  return is_true(state, "addinResponding") && (!busy || busy->is_null());
}

void wait_until_settled(const BridgeClient& client, Clock& clock, const std::string& box, long long max_seconds) {
  const Clock::Instant start = clock.now();
  while (whole_seconds(start, clock.now()) < max_seconds) {
    clock.sleep_for(std::chrono::seconds(10));
    if (main_thread_free(client.call(box, tool::kState, kStateArgs).data)) return;
  }
}

bool is_bridge_test_document(const BridgeClient& bridge, const std::string& box) {
  const json state = bridge.call(box, tool::kState, kStateArgs).data;
  for (const char* key : {"activeDocument", "title"}) {
    if (ascii_lower(string_member(state, key)).find("ovra-test") != std::string::npos) return true;
  }
  return false;
}

std::optional<double> cold_launch_seconds(const json& state) {
  const json* cold = member(state, "timings");
  if (cold) cold = member(*cold, "launch");
  if (cold) cold = member(*cold, "cold");
  if (!cold) return std::nullopt;
  for (const char* key : {"p90", "p50"}) {
    const json* p = member(*cold, key);
    if (p && p->is_number()) return p->get<double>();
  }
  return std::nullopt;
}

}  // namespace loomdeck
