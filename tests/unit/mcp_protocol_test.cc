#include "main/mcp_protocol.h"

#include <gtest/gtest.h>

#include <sstream>

#include "main/mcp_tools.h"
#include "main/mcp_verb.h"

namespace loomdeck {
namespace {

struct ToolCall {
  std::string name;
  json arguments;
};

// Answers every tool with a fixed result and records the calls.
struct RecordingTools {
  std::vector<ToolCall> calls;
  McpToolRunner runner() {
    return [this](std::string_view name, const json& arguments) {
      calls.push_back({std::string(name), arguments});
      return json{{"content", json::array()}, {"isError", false}};
    };
  }
};

TEST(McpProtocol, AnswersWithTheAskedVersionWhenItIsOneOfOurs) {
  const std::pair<json, std::string> cases[] = {{"2025-06-18", "2025-06-18"}, {"2025-03-26", "2025-03-26"},
                                                {"2024-11-05", "2024-11-05"}, {"2099-01-01", "2025-06-18"},
                                                {nullptr, "2025-06-18"},      {7, "2025-06-18"}};
  for (const auto& [asked, given] : cases) EXPECT_EQ(negotiated_protocol_version(asked), given) << asked.dump();
  RecordingTools tools;
  const std::optional<json> reply = mcp_reply(
      R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-03-26","capabilities":{},"clientInfo":{"name":"t","version":"1"}}})",
      tools.runner());
  ASSERT_TRUE(reply);
  EXPECT_EQ((*reply)["id"], 0);
  const json& result = (*reply)["result"];
  EXPECT_EQ(result["protocolVersion"], "2025-03-26");
  EXPECT_EQ(result["capabilities"], (json{{"tools", json::object()}}));
  EXPECT_EQ(result["serverInfo"], (json{{"name", "loomdeck"}, {"version", "1.10.20"}}));
}

TEST(McpProtocol, EachMessageGetsItsAnswerOrNone) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {R"({"jsonrpc":"2.0","id":"a","method":"ping"})", R"({"id":"a","jsonrpc":"2.0","result":{}})"},
      {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", std::nullopt},
      {R"({"jsonrpc":"2.0","method":"notifications/whatever","params":[1]})", std::nullopt},
      {R"({"method":"notifications/cancelled"})", std::nullopt},
      {R"({"jsonrpc":"2.0","id":4,"result":{}})", std::nullopt},
      {" \r\n", std::nullopt},
      {"{oops", R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})"},
      {"[1]", R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null,"jsonrpc":"2.0"})"},
      {R"({"id":3,"method":"ping"})",
       R"({"error":{"code":-32600,"message":"Invalid Request"},"id":3,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":{},"method":"ping"})",
       R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":3,"method":"resources/list"})",
       R"({"error":{"code":-32601,"message":"Method not found: resources/list"},"id":3,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"name":"reboot"}})",
       R"({"error":{"code":-32602,"message":"Unknown tool: reboot"},"id":5,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":6,"method":"tools/call","params":{"name":"status","arguments":"Studio"}})",
       R"({"error":{"code":-32602,"message":"arguments must be an object"},"id":6,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":7,"method":"tools/call","params":{"name":"status","arguments":{"target":"Studio"}}})",
       R"({"id":7,"jsonrpc":"2.0","result":{"content":[],"isError":false}})"},
      {R"({"jsonrpc":"2.0","id":8,"method":"tools/call","params":{"name":"console"}})",
       R"({"id":8,"jsonrpc":"2.0","result":{"content":[],"isError":false}})"},
  };
  RecordingTools tools;
  for (const auto& [line, answer] : cases) {
    const std::optional<json> reply = mcp_reply(line, tools.runner());
    EXPECT_EQ(reply ? std::optional<std::string>(dump_compact(*reply)) : std::nullopt, answer) << line;
  }
  ASSERT_EQ(tools.calls.size(), 2u);
  EXPECT_EQ(tools.calls[0].name, "status");
  EXPECT_EQ(tools.calls[0].arguments, (json{{"target", "Studio"}}));
  EXPECT_EQ(tools.calls[1].arguments, json::object());
  const std::optional<json> list = mcp_reply(R"({"jsonrpc":"2.0","id":9,"method":"tools/list"})", tools.runner());
  EXPECT_EQ((*list)["result"]["tools"], mcp_tool_list());
}

TEST(McpSession, OneLinePerAnswerUntilTheInputEnds) {
  RecordingTools tools;
  std::ostringstream out, diagnostics;
  StringSource in(
      "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\n"
      "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n\n"
      "{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"ping\"}",
      5);
  EXPECT_EQ(serve_mcp(in, out, diagnostics, tools.runner()), 0);
  EXPECT_EQ(out.str(), "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{}}\n{\"id\":2,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
  EXPECT_EQ(diagnostics.str(), "");

  StringSource overlong(std::string(kMaxMcpLine + 1, ' '));
  std::ostringstream none;
  EXPECT_EQ(serve_mcp(overlong, none, diagnostics, tools.runner()), 1);
  EXPECT_EQ(none.str(), "");
  EXPECT_NE(diagnostics.str().find("ending the session"), std::string::npos);
}

}  // namespace
}  // namespace loomdeck
