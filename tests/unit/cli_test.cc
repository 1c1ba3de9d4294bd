#include "main/cli.h"

#include <gtest/gtest.h>

namespace loomdeck {
namespace {

TEST(OptionValue, FirstOccurrenceAnywhereAndFlagLastIsAbsent) {
  const std::vector<std::string> args = {"loomdeck", "status", "--target", "Studio", "--target", "Bench", "--port"};
  EXPECT_EQ(option_value(args, "--target"), "Studio");
  EXPECT_FALSE(option_value(args, "--port"));
  EXPECT_FALSE(option_value(args, "--kind"));
  EXPECT_TRUE(has_flag(args, "--port"));
  EXPECT_FALSE(has_flag(args, "--target=Studio"));
}

TEST(ParsePort, AcceptsPlusAndRejectsEverythingElse) {
  EXPECT_EQ(parse_port("8931"), 8931);
  EXPECT_EQ(parse_port("+8931"), 8931);
  EXPECT_EQ(parse_port("65535"), 65535);
  EXPECT_FALSE(parse_port("65536"));
  EXPECT_FALSE(parse_port("-1"));
  EXPECT_FALSE(parse_port("abc"));
  EXPECT_FALSE(parse_port(""));
}

TEST(CommandLine, VerbIsAlwaysTheFirstArgument) {
  CommandLine cli = parse_command_line({"loomdeck"});
  EXPECT_EQ(cli.verb, "help");
  EXPECT_EQ(cli.attribution, "loomdeck");
  cli = parse_command_line({"loomdeck", "--ai-thread", "t7", "status"});
  EXPECT_EQ(cli.verb, "--ai-thread");
  EXPECT_EQ(cli.attribution, "t7");
  cli = parse_command_line({"loomdeck", "serve", "--port", "abc"});
  EXPECT_FALSE(cli.port);
  cli = parse_command_line({"loomdeck", "health", "--ai-thread"});
  EXPECT_EQ(cli.attribution, "loomdeck");
}

}  // namespace
}  // namespace loomdeck
