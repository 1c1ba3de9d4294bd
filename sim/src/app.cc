#include "app.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <functional>

#include "control.h"
#include "model.h"
#include "stamps.h"
#include "tools.h"

namespace sim {

namespace {

const char* kBridgeUsage =
    "usage: ovra-bridge targets\n"
    "       ovra-bridge tools\n"
    "       ovra-bridge --target <box> --ai-thread <name> <tool> [json-args]\n"
    "       ovra-bridge sim <verb> ...   (ovra-bridge sim help)\n";

const char* kSimHelp =
    "ovra-bridge sim verbs:\n"
    "  reset <scenario>                 replace every box with a scenario (sim scenarios lists them)\n"
    "  scenarios                        list the scenarios\n"
    "  show [<box>]                     print a box's state (or the scenario and its boxes)\n"
    "  set <box> key=value...           change state members; values are JSON when they parse, else text\n"
    "  add-box <name>                   add a closed box with Fusion installed\n"
    "  advance <box|*> <seconds>        let that much simulated time pass on a box\n"
    "  busy <box> <seconds> [label]     occupy Fusion's main thread with a long verb\n"
    "  enter-password <box>             the user types their password at the sign-in wall\n"
    "  fault <box|*> <tool|*> <kind> [value] [--count N]\n"
    "                                   kinds: delay <ms>, empty, garbage [text], badutf8 [json|raw],\n"
    "                                   huge [MiB], crash [abort|segv|kill], exit [status], hang\n"
    "  faults                           list the injected faults\n"
    "  clear-faults                     remove every fault\n"
    "  log                              print the activity log (one JSON object per call)\n"
    "  clear-log                        empty the activity log\n";

constexpr int64_t kWaitSliceMs = 250;

RunResult fail(const std::string& message, int code = 1) { return {"", "ERROR: " + message + "\n", code, 0, false}; }
RunResult ok_line(const std::string& message) { return {"OK: " + message + "\n", "", 0, 0, false}; }

RunResult json_out(const json& body, int exit_code) { return {dump(body) + "\n", "", exit_code, 0, false}; }

std::optional<double> to_seconds(const std::string& s) {
  auto v = parse(s);
  if (!v || !v->is_number() || v->get<double>() < 0 || !std::isfinite(v->get<double>())) return std::nullopt;
  return v->get<double>();
}

std::optional<int64_t> local_file_size(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<int64_t>(st.st_size);
}

Answer unknown_target(const std::string& target, Store& store) {
  std::string names;
  for (const auto& n : store.box_order()) names += (names.empty() ? "" : ", ") + n;
  return {bridge_error("unknown target '" + target + "'", "ovra-bridge targets lists the boxes: " + names + "."), 1};
}

// Runs one tool call to its answer, waiting out a timed verb.
Answer perform(const std::string& tool, const std::string& target_arg, const std::string& args_text, Store& store, Clock& clock) {
  auto args = parse(args_text);
  if (!args)
    return {bridge_error("arguments are not valid JSON: " + to_valid_utf8(args_text.substr(0, 120)),
                         "Pass the tool's arguments as one JSON object, e.g. '{}'."),
            1};
  if (!tool_known(tool)) return {bridge_error("unknown tool " + tool, "ovra-bridge tools lists every verb the bridge serves."), 1};
  std::vector<std::string> order = store.box_order();
  // Like the real bridge, an empty target means the first box it knows.
  std::string target = target_arg.empty() && !order.empty() ? order.front() : target_arg;
  if (std::find(order.begin(), order.end(), target) == order.end()) return unknown_target(target, store);
  std::vector<std::string> names = tool_needs_all_boxes(tool) ? order : std::vector<std::string>{target};
  CallEnv env{clock.now_ms(), local_file_size};
  Outcome out;
  if (store.update(names, [&](Boxes& boxes) { out = run_tool(tool, *args, target, boxes, env); }))
    return unknown_target(target, store);
  // Wait for the verb in short slices, so a verb that fails early (Fusion killed) answers early.
  for (bool finished = !out.wait; !finished;) {
    clock.sleep_until_ms(std::min(out.wait->deadline_ms, clock.now_ms() + kWaitSliceMs));
    int64_t now = clock.now_ms();
    bool gone = store.update({target}, [&](Boxes& boxes) {
      Box& box = boxes.at(target);
      advance(box, now);
      finished = now >= out.wait->deadline_ms || !op_pending(box, out.wait->op_id);
      if (finished) out.answer = collect(tool, box, *out.wait);
    }).has_value();
    if (gone) return {bridge_error(tool + " was interrupted: " + target + " went away (sim reset?)", "Run it again."), 1};
  }
  return out.answer;
}

RunResult tool_call(const std::vector<std::string>& args, Store& store, Clock& clock) {
  std::string target, thread, tool, args_text = "{}";
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "--target" || args[i] == "--ai-thread") && i + 1 < args.size()) {
      (args[i] == "--target" ? target : thread) = args[i + 1];
      ++i;
    } else {
      rest.push_back(args[i]);
    }
  }
  if (rest.empty() || rest.size() > 2) return {"", kBridgeUsage, 2, 0, false};
  tool = rest[0];
  if (rest.size() == 2) args_text = rest[1];

  FaultPlan plan;
  store.update_faults([&](std::vector<Fault>& faults) { plan = take_faults(faults, target, tool); });
  json entry = {{"time", utc_stamp_ms(clock.now_ms())}, {"aiThread", thread}, {"target", target}, {"tool", tool}, {"args", args_text}};
  if (!plan.fired.empty()) entry["faults"] = plan.fired;
  store.append_activity(entry);
  if (plan.delay_ms > 0) clock.sleep_ms(plan.delay_ms);
  if (plan.action && fault_replaces_call(*plan.action)) {
    FaultOutput f = render_fault(*plan.action, nullptr, 0);
    return {f.bytes, "", f.exit_code, f.signal, plan.action->kind == "hang"};
  }
  Answer answer = perform(tool, target, args_text, store, clock);
  if (!plan.action) return json_out(answer.body, answer.exit_code);
  FaultOutput f = render_fault(*plan.action, answer.body, answer.exit_code);
  return {f.bytes, "", f.exit_code, f.signal, false};
}

RunResult targets_call(Store& store, Clock& clock) {
  FaultPlan plan;
  store.update_faults([&](std::vector<Fault>& faults) { plan = take_faults(faults, "", "targets"); });
  json entry = {{"time", utc_stamp_ms(clock.now_ms())}, {"aiThread", ""}, {"target", ""}, {"tool", "targets"}, {"args", ""}};
  if (!plan.fired.empty()) entry["faults"] = plan.fired;
  store.append_activity(entry);
  if (plan.delay_ms > 0) clock.sleep_ms(plan.delay_ms);
  json list = json::array();
  for (const auto& n : store.box_order()) list.push_back({{"name", n}, {"online", true}, {"platform", "windows"}});
  json body = {{"targets", list}};
  if (!plan.action) return json_out(body, 0);
  FaultOutput f = render_fault(*plan.action, body, 0);
  return {f.bytes, "", f.exit_code, f.signal, plan.action->kind == "hang"};
}

// --- sim verbs ---

RunResult on_box(Store& store, const std::string& name, Clock& clock, const std::function<std::string(Box&, int64_t)>& fn,
                 const std::string& done) {
  int64_t now = clock.now_ms();
  std::string error;
  std::vector<std::string> names;
  if (name == "*") names = store.box_order();
  else names = {name};
  auto missing = store.update(names, [&](Boxes& boxes) {
    for (auto& [n, box] : boxes) {
      advance(box, now);
      if (std::string e = fn(box, now); !e.empty() && error.empty()) error = e;
    }
  });
  if (missing) return fail("unknown box " + *missing + " (sim show lists the boxes)");
  if (!error.empty()) return fail(error);
  return ok_line(done);
}

RunResult sim_set(const std::vector<std::string>& a, Store& store, Clock& clock) {
  if (a.size() < 3) return fail("usage: sim set <box> key=value...");
  std::vector<std::pair<std::string, json>> changes;
  for (size_t i = 2; i < a.size(); ++i) {
    auto kv = parse_assignment(a[i]);
    if (!kv) return fail("expected key=value, got " + to_valid_utf8(a[i]));
    changes.push_back(*kv);
  }
  std::string summary;
  for (const auto& [k, v] : changes) summary += " " + k + "=" + dump(v);
  return on_box(
      store, a[1], clock,
      [&](Box& box, int64_t) {
        Box edited = box;
        for (const auto& [k, v] : changes)
          if (std::string e = apply_set(edited, k, v); !e.empty()) return e;
        box = edited;
        return std::string();
      },
      a[1] + summary);
}

RunResult sim_show(const std::vector<std::string>& a, Store& store, Clock& clock) {
  if (a.size() < 2) return {dump_pretty({{"scenario", store.scenario()}, {"boxes", store.box_order()}}) + "\n", "", 0, 0, false};
  json shown;
  int64_t now = clock.now_ms();
  auto missing = store.update({a[1]}, [&](Boxes& boxes) {
    Box& box = boxes.at(a[1]);
    advance(box, now);
    shown = box_to_json(box);
  });
  if (missing) return fail("unknown box " + *missing + " (sim show lists the boxes)");
  return {dump_pretty(shown) + "\n", "", 0, 0, false};
}

RunResult sim_fault(const std::vector<std::string>& a, Store& store) {
  std::string error;
  auto fault = parse_fault(std::vector<std::string>(a.begin() + 1, a.end()), &error);
  if (!fault) return fail(error);
  store.update_faults([&](std::vector<Fault>& faults) { faults.push_back(*fault); });
  std::string count = fault->remaining > 0 ? " for " + std::to_string(fault->remaining) + " call(s)" : " until cleared";
  return ok_line("fault " + fault->kind + (fault->value.empty() ? "" : " " + fault->value) + " on " + fault->box + " " +
                 fault->tool + count);
}

}  // namespace

RunResult sim_command(const std::vector<std::string>& a, Store& store, Clock& clock) {
  std::string verb = a.empty() ? "help" : a[0];
  if (verb == "help" || verb == "--help") return {kSimHelp, "", 0, 0, false};
  if (verb == "scenarios") {
    std::string out;
    for (const auto& s : scenarios()) out += std::string(s.name) + "\t" + s.summary + "\n";
    return {out, "", 0, 0, false};
  }
  if (verb == "reset") {
    std::string name = a.size() > 1 ? a[1] : "demo";
    auto world = make_scenario(name, clock.now_ms());
    if (!world) return fail("unknown scenario " + name + " (sim scenarios lists them)");
    if (!store.reset(*world)) return fail("could not write the simulator state under " + store.dir());
    return ok_line("scenario " + name + " with boxes " + [&] {
      std::string names;
      for (const auto& n : world->order) names += (names.empty() ? "" : ", ") + n;
      return names;
    }());
  }
  if (verb == "show") return sim_show(a, store, clock);
  if (verb == "set") return sim_set(a, store, clock);
  if (verb == "add-box") {
    if (a.size() != 2) return fail("usage: sim add-box <name>");
    std::string error;
    if (!store.add_box(a[1], closed_box(clock.now_ms()), &error)) return fail(error);
    return ok_line("added box " + a[1]);
  }
  if (verb == "advance") {
    auto secs = a.size() == 3 ? to_seconds(a[2]) : std::nullopt;
    if (!secs) return fail("usage: sim advance <box|*> <seconds>");
    int64_t ms = seconds_to_ms(*secs);
    return on_box(store, a[1], clock, [&](Box& box, int64_t now) {
      shift_box(box, ms);
      advance(box, now);
      return std::string();
    }, a[1] + " advanced by " + a[2] + "s");
  }
  if (verb == "busy") {
    auto secs = a.size() >= 3 && a.size() <= 4 ? to_seconds(a[2]) : std::nullopt;
    if (!secs) return fail("usage: sim busy <box> <seconds> [label]");
    std::string label = a.size() == 4 ? a[3] : "fusion_build_3d";
    return on_box(store, a[1], clock, [&](Box& box, int64_t now) {
      make_busy(box, *secs, label, now);
      return std::string();
    }, a[1] + " busy with " + label + " for " + a[2] + "s");
  }
  if (verb == "enter-password") {
    if (a.size() != 2) return fail("usage: sim enter-password <box>");
    return on_box(store, a[1], clock, [](Box& box, int64_t now) {
      if (!box.needs_signin) return std::string("no sign-in is waiting on this box");
      enter_password(box, now);
      return std::string();
    }, a[1] + " is signed in");
  }
  if (verb == "fault") return sim_fault(a, store);
  if (verb == "faults") return {dump_pretty(faults_to_json(store.faults())) + "\n", "", 0, 0, false};
  if (verb == "clear-faults") {
    store.update_faults([](std::vector<Fault>& faults) { faults.clear(); });
    return ok_line("faults cleared");
  }
  if (verb == "log") return {store.activity(), "", 0, 0, false};
  if (verb == "clear-log") return store.clear_activity() ? ok_line("activity log cleared") : fail("could not clear the activity log");
  return fail("unknown sim verb " + to_valid_utf8(verb) + " (ovra-bridge sim help)");
}

RunResult bridge_command(const std::vector<std::string>& args, Store& store, Clock& clock) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") return {"", kBridgeUsage, 2, 0, false};
  if (!store.ensure_world(clock.now_ms())) return fail("cannot write the simulator state under " + store.dir());
  if (args[0] == "sim") return sim_command(std::vector<std::string>(args.begin() + 1, args.end()), store, clock);
  if (args[0] == "targets" && args.size() == 1) return targets_call(store, clock);
  if (args[0] == "tools" && args.size() == 1) return json_out({{"tools", tool_names()}}, 0);
  return tool_call(args, store, clock);
}

ProgramStart start_program(const std::string& program, const std::vector<std::string>& argv, Store& store, Clock& clock) {
  FaultPlan plan;
  store.update_faults([&](std::vector<Fault>& faults) { plan = take_faults(faults, "", program); });
  json entry = {{"time", utc_stamp_ms(clock.now_ms())}, {"program", program}, {"tool", program}, {"argv", argv}};
  if (!plan.fired.empty()) entry["faults"] = plan.fired;
  store.append_activity(entry);
  if (plan.delay_ms > 0) clock.sleep_ms(plan.delay_ms);
  ProgramStart start;
  if (plan.action && fault_replaces_call(*plan.action)) {
    FaultOutput f = render_fault(*plan.action, nullptr, 0);
    start.replaced = true;
    start.result = {f.bytes, "", f.exit_code, f.signal, plan.action->kind == "hang"};
  } else {
    start.after = plan.action;
  }
  return start;
}

RunResult finish_program(const ProgramStart& start, RunResult result) {
  if (!start.after) return result;
  const Fault& f = *start.after;
  if (f.kind == "exit") result.exit_code = static_cast<int>(std::stoll(f.value));
  if (f.kind == "crash") result.signal = f.value == "kill" ? SIGKILL : (f.value == "segv" ? SIGSEGV : SIGABRT);
  if (f.kind == "badutf8" || f.kind == "huge") result.out += render_fault(f, json::object(), 0).bytes;
  return result;
}

}  // namespace sim
