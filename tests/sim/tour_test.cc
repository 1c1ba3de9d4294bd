#include <fstream>

#include "png.h"
#include "sim_fixtures.h"
#include "tour.h"

namespace sim::testing {
namespace {

const json kTourArgs = json::parse(R"({"mode":"tour","preset":"electronics","remote":true})");

struct Touring : Sim {
  std::string id;
  Touring() : Sim("signed-in") {
    box().tour_step_seconds = 10;
    json r = call("fusion_demo", kTourArgs);
    id = r["demoId"];
  }
  json progress(const char* images = "base64", int since = 0) {
    return call("fusion_demo_progress", {{"demoId", id}, {"imagesAs", images}, {"sinceShot", since}});
  }
  json control(const char* action) { return call("fusion_demo_control", {{"demoId", id}, {"action", action}}); }
};

TEST(Tour, StartsOnAReadyBoxWithItsStepList) {
  Sim cold("demo");
  EXPECT_EQ(cold.call("fusion_demo", kTourArgs)["error"], "Fusion is not running on Studio");
  Touring t;
  EXPECT_FALSE(t.id.empty());
  json again = t.call("fusion_demo", kTourArgs);
  EXPECT_EQ(again["joined"], true);
  EXPECT_EQ(again["demoId"], t.id);
  EXPECT_EQ(again["steps"].size(), 16u);
  EXPECT_EQ(again["steps"][0]["step"], "launch");
  EXPECT_EQ(t.data("fusion_readiness")["ready"], false);  // the tour occupies the main thread
  EXPECT_EQ(t.data("fusion_state")["mainThreadBusy"], "fusion_demo: Fusion is up");
}

// Each narration clip says where it stands ("First ...", "Next ...", "Finally ... the tour is
// complete"), so the steps run in the order of the clips' script.
TEST(Tour, StepsRunInTheOrderOfTheNarration) {
  std::ifstream script(NARRATION_TSV);
  ASSERT_TRUE(script) << NARRATION_TSV;
  std::vector<std::string> narrated;
  for (std::string line; std::getline(script, line);)
    if (!line.empty()) narrated.push_back(line.substr(0, line.find('\t')));
  std::vector<std::string> toured;
  for (const auto& s : tour_steps()) toured.push_back(s.key);
  EXPECT_EQ(toured, narrated);
}

TEST(Tour, AdvancesStepByStepAndWindowsItsShots) {
  Touring t;
  json p = t.progress();
  EXPECT_EQ(p["step"], "launch");
  EXPECT_EQ(p["percent"], 0);
  EXPECT_EQ(p["shots"], json::array());
  t.pass(25);
  p = t.progress();
  EXPECT_EQ(p["step"], "aps");
  EXPECT_EQ(p["stepLabel"], "APS cloud search");
  EXPECT_EQ(p["stepCaption"], "APS cloud search finds files in the team's hubs in about two seconds.");
  EXPECT_EQ(p["percent"], 15);  // (2 steps + half of the third) of 16
  EXPECT_EQ(p["shotCount"], 2);
  ASSERT_EQ(p["shots"].size(), 2u);
  EXPECT_EQ(p["shots"][1]["label"], "Fusion MCP server");
  EXPECT_GT(p["shots"][1]["image"].get<std::string>().size(), 2000u);
  EXPECT_EQ(base64_decode(p["shots"][1]["image"]).substr(1, 3), "PNG");

  p = t.progress("paths", 1);
  ASSERT_EQ(p["shots"].size(), 1u);
  EXPECT_EQ(p["shots"][0]["path"], "C:/Users/pell/AppData/Local/Temp/ovra-demo/" + t.id + "/shot-1.png");
  EXPECT_EQ(t.progress("paths", 9999)["shots"], json::array());

  t.pass(200);
  p = t.progress();
  EXPECT_EQ(p["done"], true);
  EXPECT_EQ(p["failed"], false);
  EXPECT_EQ(p["percent"], 100);
  EXPECT_EQ(p["shotCount"], 16);
  EXPECT_EQ(t.data("fusion_readiness")["ready"], true);
  EXPECT_EQ(t.call("fusion_stop", {{"reason", "x"}})["bridgeDocsOnly"], true);  // the tour's test document stays open
}

TEST(Tour, PauseWaitsForTheStepBoundaryAndResumeGoesOn) {
  Touring t;
  t.pass(4);
  EXPECT_EQ(t.control("pause")["pausing"], true);
  t.pass(5);
  EXPECT_EQ(t.progress()["paused"], false);
  t.pass(1);
  json p = t.progress();
  EXPECT_EQ(p["paused"], true);
  EXPECT_EQ(p["step"], "mcp");
  EXPECT_EQ(t.data("fusion_readiness")["ready"], true);  // a paused tour frees the main thread
  t.pass(100);
  EXPECT_EQ(t.progress()["step"], "mcp");
  t.control("resume");
  t.pass(10);
  EXPECT_EQ(t.progress()["step"], "aps");
}

TEST(Tour, NextSkipsTheUpcomingStepPrevReplaysAndExitCleansUp) {
  Touring t;
  EXPECT_EQ(t.control("prev")["error"], "no view captured yet");
  t.control("next");
  t.pass(10);
  EXPECT_EQ(t.progress()["step"], "aps");  // "mcp" was skipped
  EXPECT_EQ(t.control("prev")["success"], true);
  json p = t.progress("paths");
  EXPECT_EQ(p["shots"][1]["label"], "Fusion is up (replay)");
  EXPECT_EQ(t.control("exit")["done"], true);
  p = t.progress();
  EXPECT_EQ(p["done"], true);
  EXPECT_EQ(p["exited"], true);
  EXPECT_EQ(p["failed"], false);
  EXPECT_TRUE(t.box().documents.empty());
  EXPECT_EQ(t.control("pause")["error"], "the tour has already ended");
  EXPECT_EQ(t.control("bogus")["error"], "the tour has already ended");
}

TEST(Tour, FailuresReachTheProgressReply) {
  Touring t;
  t.box().tour_fail_at_step = "symbol";
  t.pass(70);
  json p = t.progress();
  EXPECT_EQ(p["done"], true);
  EXPECT_EQ(p["failed"], true);
  EXPECT_EQ(p["step"], "symbol");
  EXPECT_EQ(p["error"], "step symbol failed: the add-in reported an error");

  Touring k;
  k.call("fusion_kill");
  p = k.progress();
  EXPECT_EQ(p["failed"], true);
  EXPECT_EQ(p["error"], "Fusion was killed");
}

TEST(Tour, UnknownIdsAndNullArgumentsAreRefused) {
  Touring t;
  EXPECT_EQ(t.call("fusion_demo_progress", nullptr)["error"], "unknown demoId ");
  EXPECT_EQ(t.call("fusion_demo_control", {{"demoId", "demo-0"}, {"action", "next"}})["error"], "unknown demoId demo-0");
  EXPECT_EQ(t.control("rewind")["error"], "unknown action rewind (use prev, pause, resume, next or exit)");
}

}  // namespace
}  // namespace sim::testing
