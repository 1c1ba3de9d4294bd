#include "logbook/logbook.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fakes.h"
#include "logbook/logbook_file.h"
#include "logbook/transitions.h"

namespace loomdeck {
namespace {

Led led(std::string label, std::string state, std::string hint, bool pending = false) {
  Led out;
  out.label = std::move(label);
  out.state = std::move(state);
  out.hint = std::move(hint);
  out.pending = pending;
  return out;
}

// The status of box Studio whose bridge answered: the given LED states, every other LED on.
BoxStatus answered_payload(const std::map<std::string, std::string>& states) {
  BoxStatus s;
  s.target = "Studio";
  s.answered = true;
  for (const LedId id : kLedIds) {
    const std::string key(led_key(id));
    const auto given = states.find(key);
    s.led(id) = led("L-" + key, given == states.end() ? "on" : given->second, "h-" + key);
  }
  return s;
}

BoxStatus silent_payload() {
  BoxStatus s;
  s.target = "Studio";
  s.busy_reason = "the bridge did not answer (busy running a long verb?)";
  s.led(LedId::kFusionRunning) = led("Fusion running", "off", "");
  return s;
}

// The states of a box whose every LED was last seen on, and its bridge `bridge`.
BoxStates all_on(const std::string& bridge) {
  BoxStates states{{"bridge", bridge}};
  for (const LedId id : kLedIds) states[std::string(led_key(id))] = "on";
  return states;
}

// "led:from->to" for each entry, from "null" on first sight.
std::vector<std::string> changes(const std::vector<json>& entries) {
  std::vector<std::string> out;
  for (const json& e : entries) {
    out.push_back(e.at("led").get<std::string>() + ":" +
                  (e.at("from").is_null() ? "null" : e.at("from").get<std::string>()) + "->" +
                  e.at("to").get<std::string>());
  }
  return out;
}

TEST(LogbookTransitions, RecordsOnlyWhatChanged) {
  const BoxStates seen = all_on("answering");
  const BoxStates silent = all_on("silent");
  struct Case {
    const char* name;
    BoxStates last;
    BoxStatus payload;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"first sight",
       {},
       answered_payload({{"fusionRunning", "off"}, {"mcp", "dormant"}}),
       {"bridge:null->answering", "addinReady:null->on", "aps:null->on", "datahub:null->on", "fusionRunning:null->off",
        "mcp:null->dormant", "signedIn:null->on", "update:null->on"}},
      {"one change",
       seen,
       answered_payload({{"fusionRunning", "off"}, {"addinReady", "on"}, {"mcp", "on"}}),
       {"fusionRunning:on->off"}},
      {"several at once",
       seen,
       answered_payload({{"fusionRunning", "off"}, {"addinReady", "dormant"}, {"mcp", "dormant"}}),
       {"addinReady:on->dormant", "fusionRunning:on->off", "mcp:on->dormant"}},
      {"repeated payload", seen, answered_payload({{"fusionRunning", "on"}, {"addinReady", "on"}, {"mcp", "on"}}), {}},
      {"bridge goes silent: the LEDs keep their states", seen, silent_payload(), {"bridge:answering->silent"}},
      {"still silent", silent, silent_payload(), {}},
      {"answering again",
       silent,
       answered_payload({{"fusionRunning", "on"}, {"addinReady", "on"}, {"mcp", "on"}}),
       {"bridge:silent->answering"}},
  };
  for (const Case& c : cases) {
    const Transitions t = compare_states(c.last, c.payload, "2026-01-02T03:04:05Z");
    EXPECT_EQ(changes(t.entries), c.expected) << c.name;
    // Applying the same payload to the new states records nothing more.
    EXPECT_TRUE(compare_states(t.states, c.payload, "later").entries.empty()) << c.name;
  }
}

TEST(LogbookTransitions, EntryCarriesLabelHintAndDerivedStates) {
  BoxStatus payload = answered_payload({});
  payload.led(LedId::kFusionRunning).hint = std::string(400, 'x');
  payload.led(LedId::kAps) = led("APS cloud search", "", "a");
  payload.led(LedId::kUpdate) = led("Fusion up to date", "", "u", true);
  BoxStates last = all_on("answering");
  for (const char* led : {"aps", "fusionRunning", "update"}) last.erase(led);
  const Transitions t = compare_states(last, payload, "2026-01-02T03:04:05Z");
  EXPECT_EQ(changes(t.entries),
            (std::vector<std::string>{"aps:null->off", "fusionRunning:null->on", "update:null->pending"}));
  const json& running = t.entries.at(1);
  EXPECT_EQ(running.at("hint").get<std::string>().size(), kMaxEntryHintChars);
  EXPECT_EQ(running.at("label"), "L-fusionRunning");
  EXPECT_EQ(running.at("box"), "Studio");
  EXPECT_EQ(running.at("at"), "2026-01-02T03:04:05Z");
  EXPECT_EQ(dump_compact(running).rfind("{\"at\":", 0), 0u);

  const Transitions quiet = compare_states({{"bridge", "answering"}}, silent_payload(), "t");
  EXPECT_EQ(quiet.entries.at(0).at("hint"), "the bridge did not answer (busy running a long verb?)");
  EXPECT_EQ(compare_states(quiet.states, answered_payload({}), "t").entries.at(0).at("hint"),
            "The bridge answers status probes for this box again.");
}

class LogbookFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("loomdeck-logbook-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "logbook.jsonl").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static json entry(int n) {
    return {{"at", "t"},
            {"box", "Studio"},
            {"led", "fusionRunning"},
            {"label", "Fusion running"},
            {"from", nullptr},
            {"to", "s" + std::to_string(n)},
            {"hint", ""}};
  }

  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(LogbookFileTest, RotatesKeepingOnePreviousFileAndReadsBothBack) {
  const std::size_t line = dump_compact(entry(10)).size() + 1;
  LogbookFile file(path_, line * 3);
  for (int n = 10; n < 18; ++n) ASSERT_TRUE(file.append(entry(n)));
  // 3 lines per file: 10-12 and 13-15 went aside in turn, only the later one is kept.
  EXPECT_EQ(std::filesystem::file_size(path_), line * 2);
  EXPECT_EQ(std::filesystem::file_size(path_ + ".1"), line * 3);
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::vector<json> back = file.load();
  ASSERT_EQ(back.size(), 5u);
  EXPECT_EQ(back.front().at("to"), "s13");
  EXPECT_EQ(back.back().at("to"), "s17");
}

TEST_F(LogbookFileTest, TornLastLineIsSkippedAndTheNextEntryStartsItsOwnLine) {
  LogbookFile file(path_);
  ASSERT_TRUE(file.append(entry(1)));
  { std::ofstream(path_, std::ios::app) << "{\"at\":\"t\",\"box\":\"Stu"; }
  EXPECT_EQ(file.load().size(), 1u);
  ASSERT_TRUE(file.append(entry(2)));
  const std::vector<json> back = file.load();
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back.at(1).at("to"), "s2");
}

TEST_F(LogbookFileTest, ReloadKeepsHistoryAndLastStates) {
  RecordingSink sink;
  const BoxStatus payload = answered_payload({{"fusionRunning", "on"}});
  {
    Logbook book(sink);
    book.attach(std::make_shared<LogbookFile>(path_));
    book.record(payload, std::chrono::system_clock::time_point{});
    book.record(answered_payload({{"fusionRunning", "off"}}), std::chrono::system_clock::time_point{});
  }
  // First sight: the bridge and the seven LEDs; then the one change.
  ASSERT_EQ(sink.events().size(), 9u);
  EXPECT_EQ(sink.events().at(8).first, "logbook");
  EXPECT_EQ(sink.events().at(8).second.at("at"), "1970-01-01T00:00:00Z");

  Logbook again(sink, 2);
  again.attach(std::make_shared<LogbookFile>(path_));
  EXPECT_EQ(changes(again.newest(std::nullopt, 10)),
            (std::vector<std::string>{"update:null->on", "fusionRunning:on->off"}));
  EXPECT_TRUE(again.newest(std::string("Bench"), 10).empty());
  // The box is known from the file: the same state again is no change, a new one continues from it.
  again.record(answered_payload({{"fusionRunning", "off"}}), std::chrono::system_clock::time_point{});
  EXPECT_EQ(sink.events().size(), 9u);
  again.record(payload, std::chrono::system_clock::time_point{});
  EXPECT_EQ(changes(again.newest(std::nullopt, 1)), std::vector<std::string>{"fusionRunning:off->on"});
  EXPECT_EQ(again.newest(std::nullopt, 10).size(), 2u);
}

}  // namespace
}  // namespace loomdeck
