// Shared helpers for the simulator's tests: a fake clock and tool calls on an in-memory world.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "clock.h"
#include "model.h"
#include "scenarios.h"
#include "tools.h"

namespace sim::testing {

constexpr int64_t kT0 = 1'750'000'000'000;  // 2025-06-15T15:06:40Z

class FakeClock : public Clock {
 public:
  explicit FakeClock(int64_t t) : t_(t) {}
  int64_t now_ms() override { return t_; }
  void sleep_until_ms(int64_t when_ms) override {
    if (when_ms > t_) {
      slept_ms_ += when_ms - t_;
      t_ = when_ms;
    }
  }
  int64_t slept_ms() const { return slept_ms_; }

 private:
  int64_t t_;
  int64_t slept_ms_ = 0;
};

// A world in memory; call() runs a tool the way one ovra-bridge process would, including the
// wait for a timed verb (time jumps to the deadline).
struct Sim {
  World world;
  int64_t now;
  std::map<std::string, int64_t> container_files;

  explicit Sim(const std::string& scenario, int64_t t = kT0) : world(*make_scenario(scenario, t)), now(t) {}

  Box& box(const std::string& name = "Studio") { return world.boxes.at(name); }

  json call(const std::string& tool, const json& args = json::object(), const std::string& target = "Studio") {
    CallEnv env{now, [this](const std::string& p) -> std::optional<int64_t> {
                  auto it = container_files.find(p);
                  if (it == container_files.end()) return std::nullopt;
                  return it->second;
                }};
    Outcome out = run_tool(tool, args, target, world.boxes, env);
    if (out.wait) {
      now = out.wait->deadline_ms;
      advance(box(target), now);
      out.answer = collect(tool, box(target), *out.wait);
    }
    last_exit = out.answer.exit_code;
    return out.answer.body;
  }
  // Unwraps {"ok":..,"data":{...}} like the product does.
  json data(const std::string& tool, const json& args = json::object(), const std::string& target = "Studio") {
    json r = call(tool, args, target);
    return r.contains("data") && r["data"].is_object() && !r["data"].empty() ? r["data"] : r;
  }
  void pass(double seconds) {
    now += static_cast<int64_t>(seconds * 1000);
    for (auto& [n, b] : world.boxes) advance(b, now);
  }
  int last_exit = 0;
};

// A scratch directory removed at the end of the test.
struct TempDir {
  std::string path;
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "sim-test-XXXXXX").string();
    path = mkdtemp(tmpl.data());
  }
  ~TempDir() { std::filesystem::remove_all(path); }
};

}  // namespace sim::testing
