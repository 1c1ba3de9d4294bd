#include "sim_fixtures.h"

namespace sim::testing {
namespace {

TEST(SilentAddin, StaysSilentUntilFusionIsRestarted) {
  Sim s("silent-addin");
  json r = s.data("fusion_readiness");
  EXPECT_EQ(r["running"], true);
  EXPECT_EQ(r["ready"], false);
  json st = s.data("fusion_state", {{"screenshot", false}});
  EXPECT_EQ(st["running"], true);
  EXPECT_EQ(st["addinResponding"], false);
  s.pass(300);
  EXPECT_EQ(s.data("fusion_readiness")["ready"], false);  // time alone does not heal it

  EXPECT_EQ(s.call("fusion_stop", {{"reason", "dashboard: add-in not serving, restarting to load it"}})["success"], true);
  EXPECT_EQ(s.call("fusion_kill")["killed"], false);
  s.call("fusion_start");
  s.pass(20);
  EXPECT_EQ(s.data("fusion_readiness")["ready"], true);
}

TEST(SilentAddin, ACountedSilentLaunchIsHealedByTheNextOne) {
  Sim s("demo");
  s.box().addin_silent_launches = 1;
  s.call("fusion_start");
  s.pass(20);
  EXPECT_EQ(s.data("fusion_readiness")["ready"], false);
  EXPECT_EQ(s.call("fusion_kill")["killed"], true);
  s.call("fusion_start");
  s.pass(20);
  EXPECT_EQ(s.data("fusion_readiness")["ready"], true);
}

TEST(Stop, RulesForOpenDocuments) {
  Sim s("signed-in");
  s.box().documents = {"ovra-test-IN-S63BTG board", "Bracket v2"};
  json r = s.call("fusion_stop", {{"reason", "dashboard: user clicked Close Fusion"}});
  EXPECT_EQ(r["success"], false);
  EXPECT_EQ(r["bridgeDocsOnly"], false);
  EXPECT_EQ(r["error"], "Fusion has 2 open document(s) that would prompt on close: ovra-test-IN-S63BTG board, Bracket v2");
  EXPECT_EQ(r["_hint"], "Save and close them in Fusion first; fusion_kill would force-close and lose unsaved changes.");
  EXPECT_EQ(s.data("fusion_readiness")["running"], true);

  s.box().documents = {"OVRA-TEST tour demo-1", "ovra-test-IN-S63BTG board"};
  r = s.call("fusion_stop", {{"reason", "x"}});
  EXPECT_EQ(r["success"], false);
  EXPECT_EQ(r["bridgeDocsOnly"], true);
  EXPECT_EQ(r["_hint"], "Only the bridge's own generated test documents are open - fusion_kill closes Fusion without risk to the user's work.");

  s.box().documents.clear();
  r = s.call("fusion_stop", {{"reason", "dashboard: user clicked Close Fusion"}});
  EXPECT_EQ(r, json({{"success", true}, {"stopped", true}, {"reason", "dashboard: user clicked Close Fusion"}}));
  EXPECT_EQ(s.data("fusion_readiness")["running"], false);

  r = s.call("fusion_stop", {{"reason", "again"}});
  EXPECT_EQ(r["success"], true);
  EXPECT_EQ(r["wasRunning"], false);
}

TEST(Stop, CancelsALaunchUnderWayAndKillDropsDocuments) {
  Sim s("demo");
  s.call("fusion_start");
  EXPECT_EQ(s.call("fusion_stop", {{"reason", "changed my mind"}})["cancelledLaunch"], true);
  s.pass(60);
  EXPECT_EQ(s.data("fusion_readiness")["running"], false);

  Sim t("signed-in");
  t.box().documents = {"Bracket v2"};
  EXPECT_EQ(t.call("fusion_kill"), json({{"success", true}, {"killed", true}}));
  EXPECT_TRUE(t.box().documents.empty());
  EXPECT_EQ(t.data("fusion_readiness")["running"], false);
}

TEST(BlockingDialogs, HoldReadinessUntilDismissed) {
  Sim s("signed-in");
  s.box().blocking_dialogs = {"Update available"};
  EXPECT_EQ(s.data("fusion_readiness")["ready"], false);
  EXPECT_EQ(s.data("fusion_state")["blockingDialogs"], json::array({"Update available"}));
  EXPECT_EQ(s.call("fusion_dismiss_blocking_dialogs"), json({{"success", true}, {"dismissed", {"Update available"}}}));
  EXPECT_EQ(s.data("fusion_readiness")["ready"], true);
}

TEST(State, ReportsDocumentsTitleAndTheMainThread) {
  Sim s("signed-in");
  s.box().documents = {"Bracket v2", "ovra-test-X board"};
  json st = s.data("fusion_state", {{"screenshot", false}});
  EXPECT_EQ(st["activeDocument"], "ovra-test-X board");
  EXPECT_EQ(st["title"], "Autodesk Fusion - ovra-test-X board");
  EXPECT_FALSE(st.contains("mainThreadBusy"));
  EXPECT_FALSE(st.contains("screenshotBase64"));
  EXPECT_EQ(st["addinResponding"], true);
  s.box().ops.push_back({"op-x", "fusion_build_3d", s.now + 5000, json::object(), true});
  st = s.data("fusion_state");
  EXPECT_EQ(st["mainThreadBusy"], "fusion_build_3d");
  EXPECT_EQ(st["addinResponding"], true);
  EXPECT_EQ(s.data("fusion_readiness")["ready"], false);
  s.pass(5);
  EXPECT_FALSE(s.data("fusion_state").contains("mainThreadBusy"));
  EXPECT_EQ(s.data("fusion_readiness")["ready"], true);
}

TEST(Readiness, IsWrappedAndCarriesEveryMemberTheDashboardReads) {
  Sim s("update-waiting");
  json r = s.call("fusion_readiness");
  EXPECT_EQ(r["ok"], true);
  const json& d = r["data"];
  for (const char* key : {"ready", "running", "fusionRunning", "needsSignin", "addinVersion", "lastReadyAt", "lastSignedInAt",
                          "fusionUser", "fusionUpdateOffered", "fusionUpdateHandled", "bridgeVersion", "installed"})
    EXPECT_TRUE(d.contains(key)) << key;
  EXPECT_EQ(d["fusionUser"]["user"], "pell@example.com");
  EXPECT_EQ(d["fusionUpdateOffered"], true);
  EXPECT_EQ(d["fusionUpdateHandled"], false);
  s.call("fusion_set_auto_update", {{"enabled", true}});
  EXPECT_EQ(s.data("fusion_readiness")["fusionUpdateHandled"], true);  // the upkeep sweep clicks it
}

TEST(Readiness, ABridgeThatDoesNotAnswerGivesABareErrorObject) {
  Sim s("busy");
  json r = s.call("fusion_readiness");
  EXPECT_EQ(s.last_exit, 1);
  EXPECT_EQ(r, json({{"error", "Studio's bridge did not answer within 20s (busy running a long verb?)"},
                     {"_hint", "The add-in is occupied; retry in a moment, or read fusion_readiness alone."}}));
  EXPECT_EQ(s.data("fusion_readiness", json::object(), "Bench")["installed"], true);
}

TEST(Arguments, NullReadsAsAnEmptyObjectAndOtherNonObjectsAreRefused) {
  Sim s("signed-in");
  EXPECT_EQ(s.call("fusion_signin", nullptr)["signedIn"], true);
  json r = s.call("fusion_state", json::array());
  EXPECT_EQ(s.last_exit, 1);
  EXPECT_EQ(r["error"], "fusion_state takes one JSON object as its arguments");
  r = s.call("fusion_teleport");
  EXPECT_EQ(r["error"], "unknown tool fusion_teleport");
  EXPECT_EQ(s.last_exit, 1);
}

TEST(PupWindow, AnswersStatusOk) {
  Sim s("demo");
  json r = s.call("pup_open_window", {{"background", true}, {"url", "http://127.0.0.1:8931/"}});
  EXPECT_EQ(r["status"], "ok");
  EXPECT_EQ(r["url"], "http://127.0.0.1:8931/");
  EXPECT_EQ(s.call("pup_open_window", json::object())["status"], "error");
}

}  // namespace
}  // namespace sim::testing
