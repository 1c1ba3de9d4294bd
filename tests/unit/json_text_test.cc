#include "core/json_text.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace loomdeck {
namespace {

std::string nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(JsonNesting, CountsOnlyBracketsOutsideStrings) {
  EXPECT_TRUE(nesting_within("[[1]]", 2));
  EXPECT_FALSE(nesting_within("[[1]]", 1));
  EXPECT_TRUE(nesting_within(R"({"a":"[[[[{{{{"})", 1));
  EXPECT_TRUE(nesting_within(R"(["\"[[[", {"k":"\\"}])", 2));
  EXPECT_FALSE(nesting_within(R"(["\\", [[0]]])", 2));
  // Closing brackets never take the depth below zero, so they cannot buy room for later ones.
  EXPECT_FALSE(nesting_within("]]]]][[", 1));
}

TEST(JsonNesting, DocumentsDeeperThanTheLimitDoNotParse) {
  ASSERT_TRUE(parse_json(nested(kMaxJsonDepth)));
  EXPECT_FALSE(parse_json(nested(kMaxJsonDepth + 1)));
  // The object around the array is one more level.
  EXPECT_TRUE(parse_json(R"({"args":)" + nested(kMaxJsonDepth - 1) + "}"));
  EXPECT_FALSE(parse_json(R"({"args":)" + nested(kMaxJsonDepth) + "}"));
}

// A request body of 1 MiB of brackets once took a connection thread's stack (and the process)
// down as soon as a route copied or serialised it; now it reads as "not JSON".
TEST(JsonNesting, AHugeBracketBodyIsRefusedOnAnOrdinaryThread) {
  std::optional<json> parsed = json::object();
  std::thread([&] { parsed = parse_json(R"({"args":)" + nested(500000) + "}"); }).join();
  EXPECT_FALSE(parsed);
  // The deepest accepted document still copies and serialises.
  std::string text;
  std::thread([&] {
    const json value = *parse_json(nested(kMaxJsonDepth));
    const json copy = value;
    text = dump_compact(copy);
  }).join();
  EXPECT_EQ(text, nested(kMaxJsonDepth));
}

}  // namespace
}  // namespace loomdeck
