#include "core/box_name.h"

#include <gtest/gtest.h>

namespace loomdeck {
namespace {

using namespace std::string_literals;

TEST(BoxName, NamesThatCouldBecomeAnOptionOrBeCutShortAreRefused) {
  const std::pair<std::string, const char*> cases[] = {
      {"", nullptr},
      {"Studio", nullptr},
      {"My Box", nullptr},
      {"Büro-2", nullptr},
      {"a-", nullptr},
      {std::string(128, 'b'), nullptr},
      {std::string(129, 'b'), "box name refused: it is longer than 128 bytes"},
      {"-h", "box name refused: it starts with \"-\""},
      {"--target", "box name refused: it starts with \"-\""},
      {"Stu\0dio"s, "box name refused: it holds a control character"},
      {"Studio\n", "box name refused: it holds a control character"},
      {"x\x7F", "box name refused: it holds a control character"},
      {"x\xC2\x85", "box name refused: it holds a control character"},
  };
  for (const auto& [box, problem] : cases) {
    EXPECT_EQ(box_name_problem(box), problem ? std::optional<std::string>(problem) : std::nullopt) << box;
  }
  EXPECT_EQ(
      dump_compact(box_name_refusal("box name refused: it starts with \"-\"")),
      R"({"_hint":"Name a box as GET /api/targets lists it: at most 128 bytes, no control characters, not starting with \"-\".","error":"box name refused: it starts with \"-\""})");
}

}  // namespace
}  // namespace loomdeck
