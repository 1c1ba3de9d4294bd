#include "sim_fixtures.h"
#include "stamps.h"

namespace sim::testing {
namespace {

TEST(Launch, DemoBoxBecomesRunningThenReadyAfterItsDuration) {
  Sim s("demo");
  s.box().launch_seconds = 20;
  json started = s.call("fusion_start");
  EXPECT_EQ(started["success"], true);
  EXPECT_EQ(started["launching"], true);
  EXPECT_EQ(started["expectedSec"], 20);  // the p50 of the measured launches 18, 20, 23

  json r = s.data("fusion_readiness");
  EXPECT_EQ(r["running"], false);
  EXPECT_EQ(r["ready"], false);
  EXPECT_EQ(r["launching"], true);

  s.pass(5);  // the process shows up after a quarter of the launch
  r = s.data("fusion_readiness");
  EXPECT_EQ(r["running"], true);
  EXPECT_EQ(r["fusionRunning"], true);
  EXPECT_EQ(r["ready"], false);

  s.pass(14.9);
  EXPECT_EQ(s.data("fusion_readiness")["ready"], false);
  s.pass(0.1);
  r = s.data("fusion_readiness");
  EXPECT_EQ(r["ready"], true);
  EXPECT_FALSE(r.contains("progress"));
  EXPECT_EQ(r["lastReadyAt"], utc_stamp(s.now));
  EXPECT_EQ(s.box().launch_history.back(), 20);
}

TEST(Launch, ProgressCarriesTheBridgeEstimateWhileLaunching) {
  Sim s("demo");
  s.box().launch_seconds = 30;
  s.call("fusion_start");
  s.pass(7);
  json p = s.data("fusion_readiness")["progress"];
  EXPECT_EQ(p["percent"], 35);  // 7 s of an estimated 20 s
  EXPECT_EQ(p["etaSec"], 13);
  EXPECT_TRUE(p["etaSec"].is_number_integer());
  EXPECT_EQ(p["elapsedSec"], 7);
  EXPECT_EQ(p["confidence"], "measured");
  EXPECT_EQ(p["startKind"], "cold");
  EXPECT_EQ(p["phase"], "process");
  EXPECT_EQ(p["stepLabel"], "Starting Fusion");

  s.pass(22);  // past the estimate, launch still under way: the bar holds below 100
  p = s.data("fusion_readiness")["progress"];
  EXPECT_EQ(p["percent"], 99);
  EXPECT_EQ(p["etaSec"], 1);
  EXPECT_EQ(p["phase"], "addin");
  EXPECT_EQ(p["stepLabel"], "Loading the bridge add-in");
}

TEST(Launch, FewMeasuredLaunchesGiveATypicalEstimateAndAWarmStartAfterARecentExit) {
  Sim s("demo");
  s.box().launch_history = {12};
  s.box().last_exit_at_ms = s.now - 60'000;
  s.call("fusion_start");
  json p = s.data("fusion_readiness")["progress"];
  EXPECT_EQ(p["confidence"], "typical");
  EXPECT_EQ(p["startKind"], "warm");
  EXPECT_EQ(p["etaSec"], 12);
}

TEST(Launch, TimingsReportPercentilesOfMeasuredLaunches) {
  Sim s("demo");
  json t = s.data("fusion_state", {{"screenshot", false}})["timings"];
  EXPECT_EQ(t["launch"]["cold"]["p50"], 20);
  EXPECT_EQ(t["launch"]["cold"]["p90"], 23);
  s.box().launch_history.clear();
  EXPECT_EQ(s.data("fusion_state", {{"screenshot", false}})["timings"], json::object());
}

TEST(Launch, StartIsANoOpWhileRunningOrLaunching) {
  Sim s("demo");
  s.call("fusion_start");
  json again = s.call("fusion_start");
  EXPECT_EQ(again["alreadyLaunching"], true);
  EXPECT_TRUE(again["progress"].is_object());
  s.pass(60);
  EXPECT_EQ(s.call("fusion_start")["alreadyRunning"], true);
  EXPECT_EQ(s.box().launch_history.size(), 4u);
}

TEST(Launch, ALaunchThatDoesNotTakeLeavesFusionClosed) {
  Sim s("launch-fails");
  s.call("fusion_start");
  s.pass(10);
  EXPECT_EQ(s.data("fusion_readiness")["running"], false);
  EXPECT_TRUE(s.data("fusion_readiness").contains("progress"));
  s.pass(30);
  json r = s.data("fusion_readiness");
  EXPECT_EQ(r["running"], false);
  EXPECT_FALSE(r.contains("progress"));
  EXPECT_EQ(r["lastLaunchError"], "the launch did not take (a licensing dialog held it)");
}

TEST(Launch, NotInstalledRefusesToStart) {
  Sim s("demo");
  s.box().installed = false;
  json r = s.call("fusion_start");
  EXPECT_EQ(r["success"], false);
  EXPECT_EQ(r["error"], "Fusion is not installed on Studio");
  EXPECT_EQ(s.data("fusion_readiness")["installed"], false);
}

TEST(Seat, StartingWhereTheSeatIsNotTakesItAndSuspendsTheOtherBox) {
  Sim s("seat-elsewhere");
  s.box("Bench").documents = {"gearbox v3"};
  json r = s.call("fusion_start");
  EXPECT_EQ(r["seatTakenFrom"], "Bench");
  json bench = s.data("fusion_readiness", json::object(), "Bench");
  EXPECT_EQ(bench["running"], false);
  EXPECT_EQ(bench["suspended"], true);
  EXPECT_EQ(bench["suspendedBy"], "Studio");
  EXPECT_EQ(s.box("Bench").documents, std::vector<std::string>{"gearbox v3"});  // suspended resumably
  s.pass(30);
  EXPECT_EQ(s.data("fusion_readiness")["ready"], true);
}

TEST(Seat, WithoutSeatTakeoverTheLaunchDoesNotTake) {
  Sim s("seat-elsewhere");
  s.call("fusion_set_seat_takeover", {{"enabled", false}});
  EXPECT_EQ(s.call("fusion_start")["seatBusyOn"], "Bench");
  s.pass(30);
  EXPECT_EQ(s.data("fusion_readiness")["running"], false);
  EXPECT_EQ(s.data("fusion_readiness")["lastLaunchError"], "the Autodesk seat is in use on Bench (autoTakeOverSeat is off)");
  EXPECT_EQ(s.data("fusion_readiness", json::object(), "Bench")["ready"], true);
}

}  // namespace
}  // namespace sim::testing
