#include "logbook/transitions.h"

#include "core/utf8.h"

namespace loomdeck {

namespace {

constexpr const char* kBridgeLabel = "Bridge";
constexpr const char* kAnsweringHint = "The bridge answers status probes for this box.";
constexpr const char* kAnsweringAgainHint = "The bridge answers status probes for this box again.";
constexpr const char* kSilentFallbackHint = "The bridge did not answer the status probes for this box.";

json state_or_null(const BoxStates& states, const std::string& key) {
  const auto it = states.find(key);
  return it == states.end() ? json(nullptr) : json(it->second);
}

json transition_entry(const std::string& at, const std::string& box, const std::string& key, const std::string& label,
                      json from, const std::string& to, const std::string& hint) {
  return json{{"at", at},     {"box", box}, {"led", key},
              {"label", label}, {"from", std::move(from)}, {"to", to},
              {"hint", utf8_prefix(lenient_utf8(hint), kMaxEntryHintChars)}};
}

}  // namespace

std::string led_state_of(const json& led) {
  std::string state = string_member(led, "state");
  if (!state.empty()) return state;
  if (is_true(led, "pending")) return "pending";
  return is_true(led, "on") ? "on" : "off";
}

Transitions compare_states(const BoxStates& last, const json& payload, const std::string& at) {
  Transitions out{{}, last};
  const std::string box = string_member(payload, "target");
  if (box.empty()) return out;
  const bool answered = is_true(payload, "answered");
  const std::string bridge = answered ? "answering" : "silent";
  if (last.find(kBridgeLed) == last.end() || last.at(kBridgeLed) != bridge) {
    const std::string reason = string_member(payload, "busyReason");
    json from = state_or_null(last, kBridgeLed);
    const std::string hint = !answered       ? (reason.empty() ? kSilentFallbackHint : reason)
                             : from.is_null() ? kAnsweringHint
                                              : kAnsweringAgainHint;
    out.entries.push_back(transition_entry(at, box, kBridgeLed, kBridgeLabel, std::move(from), bridge, hint));
    out.states[kBridgeLed] = bridge;
  }
  if (!answered) return out;
  const json* leds = member(payload, "leds");
  if (!leds || !leds->is_object()) return out;
  for (auto it = leds->begin(); it != leds->end(); ++it) {
    if (it.key() == kBridgeLed || !it.value().is_object()) continue;
    const std::string to = led_state_of(it.value());
    json from = state_or_null(last, it.key());
    if (from == to) continue;
    const std::string label = string_member(it.value(), "label", it.key());
    out.entries.push_back(
        transition_entry(at, box, it.key(), label, std::move(from), to, string_member(it.value(), "_hint")));
    out.states[it.key()] = to;
  }
  return out;
}

}  // namespace loomdeck
