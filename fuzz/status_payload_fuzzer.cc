// The status payload built from seven arbitrary bridge outputs and an arbitrary settings file.
// Input lines, in order: readiness, APS, MCP, auto-update, seat takeover, driving badge,
// activity indicator, the settings file, the box name.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "bridge/bridge.h"
#include "bridge/status_payload.h"
#include "bridge/status_service.h"
#include "core/utf8.h"
#include "fuzz_check.h"
#include "http/event_hub.h"

using namespace loomdeck;

namespace {

json probe(const std::string& out) {
  ProcessResult process;
  process.started = true;
  process.exit_code = 0;
  process.out = out;
  return unwrap_bridge_data(bridge_result_from_process(process));
}

void check_payload(const json& payload, const std::string& box) {
  static const std::set<std::string> kKeys = {"_hint", "answered", "bridgeVersion", "busyReason", "dashboardVersion",
                                              "leds",  "settings", "state",         "target"};
  static const std::set<std::string> kLeds = {"addinReady", "aps",      "datahub", "fusionRunning",
                                              "mcp",        "signedIn", "update"};
  FUZZ_CHECK(payload.is_object());
  std::set<std::string> keys;
  for (auto it = payload.begin(); it != payload.end(); ++it) keys.insert(it.key());
  FUZZ_CHECK(keys == kKeys);
  FUZZ_CHECK(payload.at("target") == box);
  FUZZ_CHECK(payload.at("state") == "ok" || payload.at("state") == "warn");
  FUZZ_CHECK(payload.at("answered").is_boolean());
  FUZZ_CHECK(payload.at("answered").get<bool>() ? payload.at("busyReason").is_null()
                                                : payload.at("busyReason").is_string());
  if (!payload.at("answered").get<bool>()) FUZZ_CHECK(payload.at("state") == "warn");

  const json& leds = payload.at("leds");
  FUZZ_CHECK(leds.is_object() && leds.size() == 7);
  for (const std::string& name : kLeds) {
    FUZZ_CHECK(leds.contains(name));
    const json& led = leds.at(name);
    FUZZ_CHECK(led.at("on").is_boolean() && led.at("label").is_string() && led.at("_hint").is_string());
    FUZZ_CHECK(!led.at("_hint").get<std::string>().empty() && is_valid_utf8(led.at("_hint").get<std::string>()));
    if (led.contains("state")) {
      static const std::set<std::string> kStates = {"on", "off", "starting", "dormant", "busy", "stale"};
      FUZZ_CHECK(kStates.count(led.at("state").get<std::string>()) == 1);
    }
  }
  FUZZ_CHECK(leds.at("datahub").at("on") == leds.at("aps").at("on"));

  const json& settings = payload.at("settings");
  FUZZ_CHECK(settings.size() == 6);
  for (const char* flag : {"autoUpdateFusion", "autoTakeOverSeat", "autoGreenOnLaunch", "showDrivingBadge"}) {
    FUZZ_CHECK(settings.at(flag).is_boolean());
  }
  FUZZ_CHECK(settings.at("activityIndicator").is_string());

  // The payload goes out as a reply and as a one-line event frame.
  const std::string text = must_dump(payload);
  FUZZ_CHECK(json::parse(text, nullptr, false) == payload);
  const std::string frame = event_frame("state", payload);
  FUZZ_CHECK(frame.find('\n') == 12 && frame.find('\n', 13) == frame.size() - 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (parts.size() < 9) {
    const std::size_t nl = input.find('\n', start);
    parts.push_back(input.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  parts.resize(9);

  StatusProbes probes{probe(parts[0]), probe(parts[1]), probe(parts[2]), probe(parts[3]),
                      probe(parts[4]), probe(parts[5]), probe(parts[6])};
  const json settings_file = parse_json(parts[7]).value_or(json::object());
  const std::string box = lenient_utf8(parts[8]);
  const bool launching = size % 2 == 1;
  const Clock::WallTime now = std::chrono::system_clock::from_time_t(1800000000) + std::chrono::seconds(size % 4096);

  const BoxStatus built = box_status(box, probes, settings_file, launching, now);
  const json payload = built;
  check_payload(payload, box);
  FUZZ_CHECK(payload.at("answered").get<bool>() == bridge_answered(probes.readiness));
  FUZZ_CHECK(payload.at("leds").at("fusionRunning").at("state") != "starting" || launching);

  // Served from the cache while a fresh probe does not answer, young and old.
  const Clock::Instant verified{};
  for (const int age : {100, 181}) {
    const json shown = apply_status_cache(built, CachedStatus{verified, built}, verified + std::chrono::seconds(age));
    FUZZ_CHECK(shown.at("stale") == true && shown.at("lastVerifiedAgeSec") == age);
    FUZZ_CHECK(shown.at("leds") == payload.at("leds"));
    must_dump(shown);
  }
  return 0;
}
