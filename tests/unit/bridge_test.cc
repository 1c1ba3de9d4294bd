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
  EXPECT_EQ(dump_compact(run_bridge_tool(runner, "a", "b", "c", "{}")), "{\"error\":\"not json \xEF\xBF\xBD\xEF\xBF\xBD\"}");
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

}  // namespace
}  // namespace loomdeck
