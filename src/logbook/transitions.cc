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
  return json{{"at", at},
              {"box", box},
              {"led", key},
              {"label", label},
              {"from", std::move(from)},
              {"to", to},
              {"hint", utf8_prefix(lenient_utf8(hint), kMaxEntryHintChars)}};
}

}  // namespace

Transitions compare_states(const BoxStates& last, const BoxStatus& status, const std::string& at) {
  Transitions out{{}, last};
  const std::string& box = status.target;
  if (box.empty()) return out;
  const std::string bridge = status.answered ? "answering" : "silent";
  if (last.find(kBridgeLed) == last.end() || last.at(kBridgeLed) != bridge) {
    const std::string reason = status.busy_reason.value_or("");
    json from = state_or_null(last, kBridgeLed);
    const std::string hint = !status.answered ? (reason.empty() ? kSilentFallbackHint : reason)
                             : from.is_null() ? kAnsweringHint
                                              : kAnsweringAgainHint;
    out.entries.push_back(transition_entry(at, box, kBridgeLed, kBridgeLabel, std::move(from), bridge, hint));
    out.states[kBridgeLed] = bridge;
  }
  if (!status.answered) return out;
  for (const LedId id : kLedIds) {
    const std::string key(led_key(id));
    const std::string to = status.word(id);
    json from = state_or_null(last, key);
    if (from == to) continue;
    const Led& led = status.led(id);
    out.entries.push_back(
        transition_entry(at, box, key, led.label.empty() ? key : led.label, std::move(from), to, led.hint));
    out.states[key] = to;
  }
  return out;
}

}  // namespace loomdeck
