#include "faults.h"

#include <csignal>

namespace sim {

namespace {

const char* kBadBytes = "\xff\xfe relay \xc3\x28 \xed\xa0\x80";
const char* kBadMarker = "\x01SIM-BAD-BYTES\x01";

std::optional<int64_t> to_int(const std::string& s) {
  if (s.empty() || s.size() > 12) return std::nullopt;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

bool matches(const Fault& f, const std::string& box, const std::string& tool) {
  return (f.box == "*" || f.box == box) && (f.tool == "*" || f.tool == tool);
}

// Appends the marker to the strings a reader is likely to show, here and inside `data`.
void mark_strings(json& obj) {
  if (!obj.is_object()) return;
  for (const char* key : {"error", "title", "activeDocument", "stepLabel", "stepCaption", "message", "_hint"})
    if (obj.contains(key) && obj[key].is_string()) obj[key] = obj[key].get<std::string>() + " " + kBadMarker;
  if (obj.contains("fusionUser") && obj["fusionUser"].is_object()) obj["fusionUser"]["user"] = std::string("pell") + kBadMarker;
  if (obj.contains("data")) mark_strings(obj["data"]);
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
  return text;
}

}  // namespace

std::optional<Fault> parse_fault(const std::vector<std::string>& words, std::string* error) {
  std::vector<std::string> w;
  Fault f;
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] == "--count") {
      auto n = i + 1 < words.size() ? to_int(words[i + 1]) : std::nullopt;
      if (!n || *n < 1) {
        *error = "--count needs a whole number of calls (1 or more)";
        return std::nullopt;
      }
      f.remaining = *n;
      ++i;
    } else {
      w.push_back(words[i]);
    }
  }
  if (w.size() < 3 || w.size() > 4) {
    *error = "usage: sim fault <box|*> <tool|*> <kind> [value] [--count N]";
    return std::nullopt;
  }
  f.box = w[0];
  f.tool = w[1];
  f.kind = w[2];
  f.value = w.size() == 4 ? w[3] : "";
  const std::string& k = f.kind;
  if (k == "delay" || k == "huge" || k == "exit") {
    std::string fallback = k == "delay" ? "" : (k == "huge" ? "1" : "3");
    if (f.value.empty()) f.value = fallback;
    auto n = to_int(f.value);
    if (!n || (k == "exit" && (*n < 1 || *n > 255)) || (k == "huge" && (*n < 1 || *n > 256))) {
      *error = k == "delay" ? "delay needs milliseconds, e.g. sim fault * * delay 1500"
                            : (k == "huge" ? "huge needs a size in MiB from 1 to 256" : "exit needs a status from 1 to 255");
      return std::nullopt;
    }
  } else if (k == "badutf8") {
    if (f.value.empty()) f.value = "json";
    if (f.value != "json" && f.value != "raw") {
      *error = "badutf8 takes json (bad bytes inside JSON strings) or raw (bad bytes, no JSON)";
      return std::nullopt;
    }
  } else if (k == "crash") {
    if (f.value.empty()) f.value = "abort";
    if (f.value != "abort" && f.value != "segv" && f.value != "kill") {
      *error = "crash takes abort, segv or kill";
      return std::nullopt;
    }
  } else if (k != "empty" && k != "garbage" && k != "hang") {
    *error = "unknown fault kind " + k + " (delay, empty, garbage, badutf8, huge, crash, exit, hang)";
    return std::nullopt;
  }
  return f;
}

json faults_to_json(const std::vector<Fault>& faults) {
  json out = json::array();
  for (const auto& f : faults)
    out.push_back({{"box", f.box}, {"tool", f.tool}, {"kind", f.kind}, {"value", f.value}, {"remaining", f.remaining}});
  return out;
}

std::vector<Fault> faults_from_json(const json& j) {
  std::vector<Fault> out;
  if (!j.is_array()) return out;
  for (const auto& e : j)
    out.push_back({string_at(e, "box", "*"), string_at(e, "tool", "*"), string_at(e, "kind"), string_at(e, "value"),
                   int_at(e, "remaining", -1)});
  return out;
}

FaultPlan take_faults(std::vector<Fault>& faults, const std::string& box, const std::string& tool) {
  FaultPlan plan;
  for (auto& f : faults) {
    if (!matches(f, box, tool)) continue;
    if (f.kind == "delay") {
      plan.delay_ms += std::stoll(f.value);
    } else if (plan.action) {
      continue;
    } else {
      plan.action = f;
    }
    plan.fired.push_back(f.kind);
    if (f.remaining > 0) --f.remaining;
  }
  std::erase_if(faults, [](const Fault& f) { return f.remaining == 0; });
  return plan;
}

bool fault_replaces_call(const Fault& f) {
  return f.kind == "empty" || f.kind == "garbage" || f.kind == "hang" || (f.kind == "badutf8" && f.value == "raw");
}

FaultOutput render_fault(const Fault& f, const json& answer, int answer_exit_code) {
  if (f.kind == "empty" || f.kind == "hang") return {"", 0, 0};
  if (f.kind == "garbage")
    return {f.value.empty() ? "Traceback (most recent call last):\n  bridge relay lost the add-in socket\n" : f.value + "\n", 0, 0};
  if (f.kind == "badutf8" && f.value == "raw") return {std::string(kBadBytes) + " - not JSON at all\n", 0, 0};
  std::string text = dump(answer);
  if (f.kind == "badutf8") {
    json marked = answer;
    if (!marked.is_object()) marked = {{"value", answer}};
    mark_strings(marked);
    marked["note"] = std::string("bytes from the relay: ") + kBadMarker;
    std::string escaped_marker = dump(json(std::string(kBadMarker)));
    escaped_marker = escaped_marker.substr(1, escaped_marker.size() - 2);
    return {replace_all(dump(marked), escaped_marker, kBadBytes) + "\n", answer_exit_code, 0};
  }
  if (f.kind == "huge") {
    json padded = answer.is_object() ? answer : json{{"value", answer}};
    padded["padding"] = std::string(static_cast<size_t>(std::stoll(f.value)) << 20, 'x');
    return {dump(padded) + "\n", answer_exit_code, 0};
  }
  if (f.kind == "exit") return {text + "\n", static_cast<int>(std::stoll(f.value)), 0};
  if (f.kind == "crash") {
    int sig = f.value == "kill" ? SIGKILL : (f.value == "segv" ? SIGSEGV : SIGABRT);
    return {text.substr(0, std::max<size_t>(1, text.size() / 2)), 0, sig};
  }
  return {text + "\n", answer_exit_code, 0};
}

}  // namespace sim
