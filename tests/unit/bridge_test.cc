#include "bridge/bridge.h"

#include <gtest/gtest.h>

#include "fakes.h"

namespace loomdeck {
namespace {

TEST(RunBridgeTool, ExactArgumentVectorWithEmptyBoxKept) {
  FakeRunner runner;
  runner.prints("ovra-bridge", "{\"ok\":true}");
  EXPECT_EQ(run_bridge_tool(runner, "t7", "", "fusion_state", "{\"screenshot\":false}"), json({{"ok", true}}));
  ASSERT_EQ(runner.calls.size(), 1u);
  EXPECT_EQ(runner.calls[0], (std::vector<std::string>{"ovra-bridge", "--target", "", "--ai-thread", "t7",
                                                       "fusion_state", "{\"screenshot\":false}"}));
}

TEST(RunBridgeTool, FailuresBecomeErrorObjects) {
  FakeRunner runner;
  const json missing = run_bridge_tool(runner, "loomdeck", "Studio", "fusion_readiness", "{}");
  EXPECT_EQ(dump_compact(missing),
            "{\"_hint\":\"The container needs the ovra-bridge CLI on PATH (it ships with every Ovra container).\","
            "\"error\":\"ovra-bridge CLI not runnable: No such file or directory\"}");

  runner.prints("ovra-bridge", "");
  EXPECT_EQ(run_bridge_tool(runner, "a", "b", "c", "{}"), json({{"error", ""}}));

  runner.prints("ovra-bridge", std::string(500, 'x'));
  EXPECT_EQ(run_bridge_tool(runner, "a", "b", "c", "{}")["error"].get<std::string>().size(), 200u);

  // 200 characters, not bytes: each "é" is two bytes.
  std::string accents;
  for (int i = 0; i < 300; ++i) accents += "\xC3\xA9";
  runner.prints("ovra-bridge", accents);
  EXPECT_EQ(run_bridge_tool(runner, "a", "b", "c", "{}")["error"].get<std::string>().size(), 400u);

  runner.prints("ovra-bridge", "not json \xFF\xFE");
  EXPECT_EQ(dump_compact(run_bridge_tool(runner, "a", "b", "c", "{}")),
            "{\"error\":\"not json \xEF\xBF\xBD\xEF\xBF\xBD\"}");
}

TEST(RunBridgeTool, NonZeroExitWithJsonAndNonObjectsAreResults) {
  FakeRunner runner;
  runner.prints("ovra-bridge", "{\"success\":false}", 3);
  EXPECT_EQ(run_bridge_tool(runner, "a", "b", "c", "{}"), json({{"success", false}}));
  runner.prints("ovra-bridge", "[1,2]");
  EXPECT_EQ(run_bridge_tool(runner, "a", "b", "c", "{}"), json({1, 2}));
}

TEST(RunBridgeTool, OutputPastTheCapIsUnparsable) {
  ProcessResult r;
  r.started = true;
  r.out = "{\"a\":1}";
  r.out_truncated = true;
  EXPECT_EQ(bridge_result_from_process(r), json({{"error", "{\"a\":1}"}}));
}

TEST(RunBridgeTool, ACallStoppedAtItsTimeLimitFailsWithTheCommandThatChecksTheBox) {
  struct Case {
    const char* tool;
    const char* args;
    const char* box;
    std::chrono::milliseconds limit;
    const char* error;
    const char* check;
  };
  const Case cases[] = {
      {"fusion_readiness", "{}", "Studio", std::chrono::seconds(30),
       "ovra-bridge did not answer fusion_readiness on Studio within 30s; the call was stopped",
       "`loomdeck status --target Studio`"},
      {"fusion_set_auto_update", "{\"enabled\":false}", "Bob's Box", std::chrono::minutes(15),
       "ovra-bridge did not answer fusion_set_auto_update on Bob's Box within 15 minutes; the call was stopped",
       "`loomdeck status --target 'Bob'\\''s Box'`"},
      {"fusion_start", "{}", "", std::chrono::minutes(15),
       "ovra-bridge did not answer fusion_start on the default box within 15 minutes; the call was stopped",
       "`loomdeck status`"},
  };
  FakeRunner runner;
  std::chrono::milliseconds limit{0};
  // A bridge stopped at its time limit after printing `out`; notes the limit it was given.
  const auto stopped_after = [&limit](std::string out) {
    return [&limit, out](const std::vector<std::string>&, const ProcessOptions& o) {
      limit = o.time_limit;
      return stopped_at_limit(out);
    };
  };
  runner.on("ovra-bridge", stopped_after("{\"ready\":"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tool);
    const json r = run_bridge_tool(runner, "loomdeck", c.box, c.tool, c.args);
    EXPECT_EQ(limit, c.limit);
    EXPECT_EQ(r["error"], c.error);
    EXPECT_NE(r["_hint"].get<std::string>().find(c.check), std::string::npos) << r["_hint"];
  }

  ProcessBridge bridge(runner);
  runner.on("ovra-bridge", stopped_after("{\"targets\":[]}"));
  EXPECT_EQ(bridge.targets(), std::nullopt);
  EXPECT_EQ(limit, std::chrono::seconds(30));
}

TEST(RunBridgeTool, ArgumentsTooLongForTheCommandLineAreRefusedWithoutSpawning) {
  FakeRunner runner;
  runner.prints("ovra-bridge", "{}");
  run_bridge_tool(runner, "a", "Studio", "fusion_signin", std::string(131071, 'x'));
  EXPECT_EQ(runner.calls.size(), 1u);
  const json refused = run_bridge_tool(runner, "a", "Studio", "fusion_signin", std::string(131072, 'x'));
  EXPECT_EQ(runner.calls.size(), 1u);
  EXPECT_EQ(refused["error"],
            "the arguments of fusion_signin are 131072 bytes; the bridge takes at most 131072 on its command line");
  EXPECT_TRUE(refused["_hint"].is_string());
}

TEST(UnwrapBridgeData, OnlyNonEmptyObjects) {
  EXPECT_EQ(unwrap_bridge_data(json::parse(R"({"data":{"ready":true}})")), json({{"ready", true}}));
  EXPECT_EQ(unwrap_bridge_data(json::parse(R"({"data":{}})")), json::parse(R"({"data":{}})"));
  EXPECT_EQ(unwrap_bridge_data(json::parse(R"({"data":5})")), json::parse(R"({"data":5})"));
  EXPECT_EQ(unwrap_bridge_data(json(7)), json(7));
}

TEST(BridgeCallOk, EvaluationOrder) {
  const auto ok = [](const char* text) {
    const json r = json::parse(text);
    return bridge_call_ok(r, unwrap_bridge_data(r));
  };
  EXPECT_TRUE(ok(R"({"success":true,"error":"x"})"));
  EXPECT_TRUE(ok(R"({"success":false,"data":{"success":true}})"));
  EXPECT_FALSE(ok(R"({"success":false,"data":{"a":1}})"));
  EXPECT_FALSE(ok(R"({"data":{"success":false}})"));
  EXPECT_TRUE(ok(R"({"status":"ok"})"));
  EXPECT_FALSE(ok(R"({"status":"ok","error":"boom"})"));
  EXPECT_TRUE(ok(R"({"status":"ok","error":""})"));
  EXPECT_TRUE(ok(R"({"a":1})"));
  EXPECT_TRUE(ok(R"({"error":7,"a":1})"));
  EXPECT_FALSE(ok(R"({"error":"boom","a":1})"));
  EXPECT_FALSE(ok("{}"));
  EXPECT_FALSE(ok("[1]"));
}

TEST(BoxName, TheBridgeIsNeverStartedForARefusedName) {
  FakeRunner runner;
  runner.prints("ovra-bridge", "{\"ready\":true}");
  ProcessBridge bridge(runner);
  EXPECT_EQ(bridge.call("t7", "-h", "fusion_readiness", "{}").at("error"), "box name refused: it starts with \"-\"");
  EXPECT_TRUE(runner.calls.empty());
  EXPECT_EQ(bridge.call("t7", "Studio", "fusion_readiness", "{}").at("ready"), true);
}

}  // namespace
}  // namespace loomdeck
