#include "main/mcp_tools.h"

#include <gtest/gtest.h>

namespace loomdeck {
namespace {

TEST(McpTools, EveryToolDescribesEachArgument) {
  std::vector<std::string> names;
  for (const json& tool : mcp_tool_list()) {
    names.push_back(tool["name"]);
    SCOPED_TRACE(names.back());
    EXPECT_FALSE(tool["description"].get<std::string>().empty());
    const json& schema = tool["inputSchema"];
    EXPECT_EQ(schema["type"], "object");
    for (const auto& [name, property] : schema["properties"].items()) {
      EXPECT_TRUE(property["type"].is_string()) << name;
      EXPECT_FALSE(property["description"].get<std::string>().empty()) << name;
    }
    for (const json& required : schema["required"]) EXPECT_TRUE(schema["properties"].contains(required));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"status", "targets", "action", "auto_green", "toast", "click", "logbook",
                                             "surface", "console"}));
}

TEST(McpTools, EachCallBecomesItsRouteWithEscapedQueryValues) {
  struct Case {
    const char* tool;
    json arguments;
    std::string path;
    std::optional<json> body;
    long seconds;
  };
  const Case cases[] = {
      {"status", json::object(), "/api/status", std::nullopt, 120},
      {"status", {{"target", nullptr}}, "/api/status", std::nullopt, 120},
      {"status", {{"target", "My Box&x=[1]#%"}}, "/api/status?target=My%20Box%26x%3D%5B1%5D%23%25", std::nullopt, 120},
      {"targets", {{"unknown", 1}}, "/api/targets", std::nullopt, 120},
      {"logbook",
       {{"target", "Pell's (PC)"}, {"limit", 20}},
       "/api/logbook?target=Pell's%20(PC)&limit=20",
       std::nullopt,
       120},
      {"action",
       {{"action", "start"}, {"args", {{"a", 1}}}, {"target", "Studio"}},
       "/api/action",
       json{{"action", "start"}, {"args", {{"a", 1}}}, {"target", "Studio"}},
       1800},
      {"auto_green",
       {{"target", "Studio"}, {"force", true}},
       "/api/auto-green?target=Studio",
       json{{"force", true}},
       120},
      {"auto_green", json::object(), "/api/auto-green", json::object(), 120},
      {"toast", {{"message", "hi"}}, "/ui/toast", json{{"message", "hi"}}, 120},
      {"click", {{"target", "tour"}}, "/ui/click", json{{"target", "tour"}}, 120},
      {"surface", {{"surface", "symbol"}}, "/api/surface", json{{"surface", "symbol"}}, 1800},
      {"console", json::object(), "/console", std::nullopt, 120},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tool) + " " + c.arguments.dump());
    const auto made = request_for_tool(c.tool, c.arguments);
    ASSERT_TRUE(std::holds_alternative<LoopbackRequest>(made)) << std::get<json>(made).dump();
    const LoopbackRequest& r = std::get<LoopbackRequest>(made);
    EXPECT_EQ(r.path, c.path);
    EXPECT_EQ(r.body, c.body);
    EXPECT_EQ(r.time_limit.count(), c.seconds);
  }
}

TEST(McpTools, ArgumentsThatDoNotFitAreAnsweredWithAHint) {
  const std::tuple<const char*, json, std::string> cases[] = {
      {"action", json::object(), "action is required"},
      {"action", {{"action", "start"}, {"args", "[1]"}}, "args must be of type object"},
      {"toast", {{"message", 5}}, "message must be of type string"},
      {"logbook", {{"limit", "20"}}, "limit must be of type integer"},
      {"logbook", {{"limit", 2.5}}, "limit must be of type integer"},
      {"auto_green", {{"force", "yes"}}, "force must be of type boolean"},
      {"toast", {{"message", std::string(131072, 'x')}}, "the arguments of toast are too long to send"},
      {"reboot", json::object(), "unknown tool reboot"},
  };
  for (const auto& [tool, arguments, error] : cases) {
    const auto made = request_for_tool(tool, arguments);
    ASSERT_TRUE(std::holds_alternative<json>(made)) << tool;
    EXPECT_EQ(std::get<json>(made)["error"], error);
    EXPECT_TRUE(std::get<json>(made)["_hint"].is_string());
  }
}

TEST(McpTools, AnErrorMemberThatSaysSomethingOrOkFalseIsAnError) {
  const std::pair<json, bool> cases[] = {
      {{{"ok", true}, {"delivered", 1}}, false},
      {{{"ok", false}, {"why", "refused"}}, true},
      {{{"error", "unknown action x"}, {"_hint", "Actions: ..."}}, true},
      {{{"success", false}, {"error", "Fusion is not running on Studio"}}, true},
      {{{"error", nullptr}, {"ok", true}, {"image", "iVBOR"}}, false},
      {{{"error", ""}}, false},
      {{{"error", false}}, false},
      {json::array({json{{"ok", false}}}), false},
  };
  for (const auto& [reply, is_error] : cases) {
    EXPECT_EQ(reply_is_error(reply), is_error) << reply.dump();
    EXPECT_EQ(tool_result(reply),
              (json{{"content", json::array({json{{"type", "text"}, {"text", dump_compact(reply)}}})},
                    {"isError", is_error}}));
  }
}

}  // namespace
}  // namespace loomdeck
