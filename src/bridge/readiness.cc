#include "bridge/readiness.h"

#include <algorithm>
#include <cctype>

namespace loomdeck {

namespace {

std::string lowered(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

bool probe_ready(Bridge& bridge, const std::string& attribution, const std::string& box) {
  return is_true(unwrap_bridge_data(bridge.call(attribution, box, "fusion_readiness", "{}")), "ready");
}

void wait_until_settled(Bridge& bridge, Clock& clock, const std::string& attribution, const std::string& box,
                        long long max_seconds) {
  const Clock::Instant start = clock.now();
  while (whole_seconds(start, clock.now()) < max_seconds) {
    clock.sleep_for(std::chrono::seconds(10));
    const json state = unwrap_bridge_data(bridge.call(attribution, box, "fusion_state", kStateArgs));
    const json* busy = member(state, "mainThreadBusy");
    if (is_true(state, "addinResponding") && (!busy || busy->is_null())) return;
  }
}

bool is_bridge_test_document(Bridge& bridge, const std::string& attribution, const std::string& box) {
  const json state = unwrap_bridge_data(bridge.call(attribution, box, "fusion_state", kStateArgs));
  for (const char* key : {"activeDocument", "title"}) {
    if (lowered(string_member(state, key)).find("ovra-test") != std::string::npos) return true;
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
