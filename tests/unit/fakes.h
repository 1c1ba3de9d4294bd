#pragma once

// Test doubles for the four seams: a simulated clock, a recording process runner, a scripted
// bridge and a recording event sink, all safe to use from several threads; and a gate that
// holds scripted work back until the test opens it.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/bridge.h"
#include "core/clock.h"
#include "core/event_sink.h"
#include "core/process.h"

namespace loomdeck {

// Time advances only when someone sleeps (or the test says so), so a 240 s budget runs at once.
class FakeClock : public Clock {
 public:
  Instant now() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return Instant{} + std::chrono::hours(1) + offset_;
  }
  WallTime wall_now() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return wall_base_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(offset_);
  }
  void sleep_for(std::chrono::milliseconds d) override { advance(d); }
  void advance(std::chrono::milliseconds d) {
    std::lock_guard<std::mutex> lock(mutex_);
    offset_ += d;
    slept_ += d;
  }
  void set_wall(WallTime t) {
    std::lock_guard<std::mutex> lock(mutex_);
    wall_base_ = t - std::chrono::duration_cast<std::chrono::system_clock::duration>(offset_);
  }
  // Seconds since the test began.
  double elapsed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::chrono::duration<double>(offset_).count();
  }

 private:
  std::mutex mutex_;
  std::chrono::milliseconds offset_{0};
  std::chrono::milliseconds slept_{0};
  WallTime wall_base_ = std::chrono::system_clock::from_time_t(1800000000);
};

// A program that ran and exited with `code` after printing `out`.
inline ProcessResult exited(int code, std::string out = "") {
  ProcessResult r;
  r.started = true;
  r.exit_code = code;
  r.out = std::move(out);
  return r;
}

// A program stopped at its time limit after printing `out`.
inline ProcessResult stopped_at_limit(std::string out = "") {
  ProcessResult r;
  r.started = true;
  r.timed_out = true;
  r.out = std::move(out);
  return r;
}

// Records every command and answers from a script keyed by the program name.
class FakeRunner : public ProcessRunner {
 public:
  using ProcessRunner::run;
  using Script = std::function<ProcessResult(const std::vector<std::string>& argv, const ProcessOptions&)>;

  ProcessResult run(const std::vector<std::string>& argv, const ProcessOptions& options) override {
    Script script;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      calls.push_back(argv);
      const auto it = scripts_.find(argv.empty() ? "" : argv[0]);
      if (it != scripts_.end()) script = it->second;
    }
    if (script) return script(argv, options);
    ProcessResult missing;
    missing.error_text = "No such file or directory";
    return missing;
  }
  void on(const std::string& program, Script script) {
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_[program] = std::move(script);
  }
  // A program that prints `out` and exits with `code`.
  void prints(const std::string& program, std::string out, int code = 0) {
    on(program, [out, code](const std::vector<std::string>&, const ProcessOptions&) {
      ProcessResult r;
      r.started = true;
      r.exit_code = code;
      r.out = out;
      return r;
    });
  }
  std::vector<std::vector<std::string>> calls;

 private:
  std::mutex mutex_;
  std::map<std::string, Script> scripts_;
};

struct BridgeCall {
  std::string attribution, box, tool, args;
};

// Answers per tool from a function of (box, args); records every call in order.
class ScriptedBridge : public Bridge {
 public:
  using Reply = std::function<json(const std::string& box, const std::string& args)>;

  json call(const std::string& attribution, const std::string& box, const std::string& tool,
            const std::string& args) override {
    Reply reply;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back({attribution, box, tool, args});
      const auto it = replies_.find(tool);
      if (it != replies_.end()) reply = it->second;
    }
    if (reply) return reply(box, args);
    return json{{"error", "unscripted tool " + tool}};
  }
  std::optional<json> targets() override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({"", "", "targets", ""});
    return targets_;
  }

  void on(const std::string& tool, Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[tool] = std::move(reply);
  }
  void answer(const std::string& tool, json value) {
    on(tool, [value](const std::string&, const std::string&) { return value; });
  }
  void set_targets(std::optional<json> t) {
    std::lock_guard<std::mutex> lock(mutex_);
    targets_ = std::move(t);
  }
  std::vector<BridgeCall> calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  // The tools called, in order, optionally only those on one box.
  std::vector<std::string> tools(const std::string& box = "*") {
    std::vector<std::string> out;
    for (const BridgeCall& c : calls()) {
      if (box == "*" || c.box == box) out.push_back(c.tool);
    }
    return out;
  }
  // Calls of tools on boxes, leaving out the box listings.
  std::size_t tool_calls() { return calls().size() - static_cast<std::size_t>(count("targets")); }
  int count(const std::string& tool) {
    int n = 0;
    for (const BridgeCall& c : calls()) n += c.tool == tool;
    return n;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, Reply> replies_;
  std::vector<BridgeCall> calls_;
  std::optional<json> targets_;
};

class RecordingSink : public EventSink {
 public:
  void broadcast(std::string_view name, const json& value) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({std::string(name), value});
  }
  std::vector<std::pair<std::string, json>> events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  // The messages of the toast events, in order.
  std::vector<std::string> toasts() {
    std::vector<std::string> out;
    for (const auto& [name, value] : events()) {
      if (name == "toast") out.push_back(value.value("message", ""));
    }
    return out;
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<std::string, json>> events_;
};

// Holds scripted work back until the test lets it finish.
class Gate {
 public:
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }
  void open() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    opened_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

// Waits for another thread to reach a state the test can see (never for an amount of time).
template <typename F>
void wait_until(F reached) {
  while (!reached()) std::this_thread::yield();
}

}  // namespace loomdeck
