#include <csignal>

#include "faults.h"
#include "sim_fixtures.h"

namespace sim::testing {
namespace {

Fault must_parse(std::vector<std::string> words) {
  std::string error;
  auto f = parse_fault(words, &error);
  EXPECT_TRUE(f) << error;
  return f.value_or(Fault{});
}

std::string parse_error(std::vector<std::string> words) {
  std::string error;
  EXPECT_FALSE(parse_fault(words, &error));
  return error;
}

TEST(Faults, ParsingFillsDefaultsAndRejectsNonsense) {
  Fault f = must_parse({"Studio", "fusion_readiness", "exit"});
  EXPECT_EQ(f.value, "3");
  EXPECT_EQ(f.remaining, -1);
  EXPECT_EQ(must_parse({"*", "*", "huge"}).value, "1");
  EXPECT_EQ(must_parse({"*", "*", "badutf8"}).value, "json");
  EXPECT_EQ(must_parse({"*", "*", "crash", "--count", "2"}).remaining, 2);
  EXPECT_EQ(parse_error({"*", "*", "delay"}), "delay needs milliseconds, e.g. sim fault * * delay 1500");
  EXPECT_EQ(parse_error({"*", "*", "explode"}), "unknown fault kind explode (delay, empty, garbage, badutf8, huge, crash, exit, hang)");
  EXPECT_EQ(parse_error({"*", "*", "crash", "--count", "0"}), "--count needs a whole number of calls (1 or more)");
  EXPECT_EQ(parse_error({"*", "*"}), "usage: sim fault <box|*> <tool|*> <kind> [value] [--count N]");
  EXPECT_EQ(parse_error({"*", "*", "exit", "256"}), "exit needs a status from 1 to 255");
}

TEST(Faults, DelaysAddUpTheFirstOtherFaultWinsAndCountsRunOut) {
  std::vector<Fault> faults = {must_parse({"*", "*", "delay", "200"}), must_parse({"Studio", "*", "delay", "50", "--count", "1"}),
                               must_parse({"Studio", "fusion_state", "garbage", "--count", "2"}),
                               must_parse({"*", "fusion_state", "empty"})};
  FaultPlan p = take_faults(faults, "Studio", "fusion_state");
  EXPECT_EQ(p.delay_ms, 250);
  EXPECT_EQ(p.action->kind, "garbage");
  EXPECT_EQ(p.fired, (std::vector<std::string>{"delay", "delay", "garbage"}));
  EXPECT_EQ(faults.size(), 3u);  // the one-shot delay is used up

  p = take_faults(faults, "Bench", "fusion_state");
  EXPECT_EQ(p.delay_ms, 200);
  EXPECT_EQ(p.action->kind, "empty");

  take_faults(faults, "Studio", "fusion_state");
  p = take_faults(faults, "Studio", "fusion_state");
  EXPECT_EQ(p.action->kind, "empty");  // the garbage fault had two calls
  EXPECT_TRUE(take_faults(faults, "", "targets").action == std::nullopt);
}

TEST(Faults, OutputsForEachKind) {
  json answer = {{"ok", true}, {"data", {{"ready", true}, {"fusionUser", {{"user", "pell@example.com"}}}}}};
  EXPECT_EQ(render_fault(must_parse({"*", "*", "empty"}), answer, 0).bytes, "");
  EXPECT_EQ(render_fault(must_parse({"*", "*", "garbage", "not json"}), answer, 0).bytes, "not json\n");

  FaultOutput raw = render_fault(must_parse({"*", "*", "badutf8", "raw"}), answer, 0);
  EXPECT_TRUE(json::parse(raw.bytes, nullptr, false).is_discarded());
  EXPECT_NE(raw.bytes.find('\xff'), std::string::npos);

  FaultOutput inside = render_fault(must_parse({"*", "*", "badutf8"}), answer, 0);
  EXPECT_NE(inside.bytes.find("\xff\xfe relay \xc3\x28"), std::string::npos);
  EXPECT_TRUE(json::parse(inside.bytes, nullptr, false).is_discarded());  // strict UTF-8 readers refuse it
  std::string repaired = to_valid_utf8(inside.bytes);
  json lenient = json::parse(repaired, nullptr, false);
  ASSERT_FALSE(lenient.is_discarded()) << repaired;  // but it is JSON once the bad bytes are replaced
  EXPECT_EQ(lenient["data"]["ready"], true);
  EXPECT_EQ(lenient["data"]["fusionUser"]["user"].get<std::string>().substr(0, 4), "pell");

  FaultOutput huge = render_fault(must_parse({"*", "*", "huge", "2"}), answer, 0);
  EXPECT_GT(huge.bytes.size(), 2u << 20);
  EXPECT_EQ(json::parse(huge.bytes)["data"]["ready"], true);

  FaultOutput crash = render_fault(must_parse({"*", "*", "crash"}), answer, 0);
  EXPECT_EQ(crash.signal, SIGABRT);
  EXPECT_EQ(crash.bytes, dump(answer).substr(0, dump(answer).size() / 2));

  FaultOutput exit = render_fault(must_parse({"*", "*", "exit", "7"}), answer, 0);
  EXPECT_EQ(exit.exit_code, 7);
  EXPECT_EQ(json::parse(exit.bytes), answer);
}

}  // namespace
}  // namespace sim::testing
