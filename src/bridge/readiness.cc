#include "bridge/readiness.h"

#include "bridge/bridge_client.h"
#include "core/text.h"

namespace loomdeck {

bool probe_ready(Bridge& bridge, const std::string& attribution, const std::string& box) {
  return is_true(BridgeClient{bridge, attribution}.call(box, "fusion_readiness").data, "ready");
}

bool main_thread_free(const json& state) {
  const json* busy = member(state, "mainThreadBusy");
  return is_true(state, "addinResponding") && (!busy || busy->is_null());
}

void wait_until_settled(Bridge& bridge, Clock& clock, const std::string& attribution, const std::string& box,
                        long long max_seconds) {
  const BridgeClient client{bridge, attribution};
  const Clock::Instant start = clock.now();
  while (whole_seconds(start, clock.now()) < max_seconds) {
    clock.sleep_for(std::chrono::seconds(10));
    if (main_thread_free(client.call(box, "fusion_state", kStateArgs).data)) return;
  }
}

bool is_bridge_test_document(Bridge& bridge, const std::string& attribution, const std::string& box) {
  const json state = BridgeClient{bridge, attribution}.call(box, "fusion_state", kStateArgs).data;
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
