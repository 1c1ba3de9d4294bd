#include "control.h"
#include "sim_fixtures.h"
#include "stamps.h"
#include "store.h"

namespace sim::testing {
namespace {

TEST(SigninWall, ALaunchStopsAtTheWallAndSigninDrivesItToThePassword) {
  Sim s("signin-wall");
  s.call("fusion_start");
  s.pass(20);
  json r = s.data("fusion_readiness");
  EXPECT_EQ(r["running"], true);
  EXPECT_EQ(r["ready"], false);
  EXPECT_EQ(r["needsSignin"], true);
  EXPECT_EQ(r["signinWall"], "email");
  EXPECT_TRUE(r["fusionUser"].is_null());

  int64_t before = s.now;
  json wall = s.call("fusion_signin", {{"email", "ada@example.com"}});
  EXPECT_EQ(s.now - before, 4000);  // the drive takes the box's signinSeconds
  EXPECT_EQ(wall["signinWall"], "password");
  EXPECT_EQ(wall["email"], "ada@example.com");
  EXPECT_EQ(s.data("fusion_readiness")["signinWall"], "password");

  before = s.now;
  EXPECT_EQ(s.call("fusion_signin")["signinWall"], "password");  // already at the wall: at once
  EXPECT_EQ(s.now, before);

  enter_password(s.box(), s.now);
  r = s.data("fusion_readiness");
  EXPECT_EQ(r["ready"], true);
  EXPECT_EQ(r["needsSignin"], false);
  EXPECT_EQ(r["fusionUser"]["user"], "ada@example.com");
  EXPECT_EQ(r["lastSignedInAt"], utc_stamp(s.now));
  EXPECT_FALSE(s.call("fusion_signin").contains("signinWall"));
}

TEST(SigninWall, SigninNeedsFusionUp) {
  Sim s("signin-wall");
  json r = s.call("fusion_signin");
  EXPECT_EQ(r["success"], false);
  EXPECT_EQ(r["error"], "Fusion is not running on Studio");
  s.call("fusion_start");
  EXPECT_EQ(s.call("fusion_signin")["error"], "Fusion is still starting on Studio");
}

TEST(Mcp, EnablingNeedsTheAddinAndTakesSimulatedTime) {
  Sim s("demo");
  json r = s.call("fusion_mcp_enable");
  EXPECT_EQ(r["error"], "Fusion is not running on Studio");
  s.call("fusion_start");
  s.pass(20);
  int64_t before = s.now;
  r = s.call("fusion_mcp_enable");
  EXPECT_EQ(s.now - before, 3000);
  EXPECT_EQ(r["success"], true);
  EXPECT_EQ(r["lastEnabledAt"], utc_stamp(s.now));
  json m = s.data("fusion_mcp_status");
  EXPECT_EQ(m["enabled"], true);
  EXPECT_EQ(m["lastEnabledAt"], utc_stamp(s.now));
  EXPECT_EQ(s.call("fusion_mcp_enable")["alreadyEnabled"], true);

  s.call("fusion_stop", {{"reason", "done"}});
  s.pass(100);
  m = s.data("fusion_mcp_status");
  EXPECT_EQ(m["enabled"], false);  // dormant: enabled in preferences, Fusion closed
  EXPECT_EQ(m["lastEnabledAt"], utc_stamp(s.now - 100'000));
}

TEST(Mcp, AVerbLongerThanTheRelayWindowAnswersATimeoutButStillCompletes) {
  Sim s("demo");
  s.box().running = true;
  s.box().mcp_enable_seconds = 90;
  s.box().relay_window_seconds = 30;
  json r = s.call("fusion_mcp_enable");
  EXPECT_EQ(r["success"], false);
  EXPECT_EQ(r["error"], "fusion_mcp_enable timed out after 30s in the relay window - the add-in is still working on it");
  EXPECT_EQ(s.data("fusion_state")["mainThreadBusy"], "fusion_mcp_enable");
  s.pass(60);
  EXPECT_EQ(s.data("fusion_mcp_status")["enabled"], true);
  EXPECT_FALSE(s.data("fusion_state").contains("mainThreadBusy"));
}

TEST(Mcp, KillingFusionMidVerbFailsIt) {
  Sim s("demo");
  s.box().running = true;
  CallEnv env{s.now, nullptr};
  Outcome out = run_tool("fusion_mcp_enable", json::object(), "Studio", s.world.boxes, env);
  ASSERT_TRUE(out.wait);
  s.call("fusion_kill");
  json r = collect("fusion_mcp_enable", s.box(), *out.wait).body;
  EXPECT_EQ(r, json({{"success", false}, {"error", "Fusion was killed"}}));
  EXPECT_EQ(s.box().mcp_enabled, false);
}

TEST(Aps, SigninWorksOnlyWhenConfigured) {
  Sim s("aps-unconfigured");
  json st = s.call("fusion_aps_status");
  EXPECT_EQ(st, json({{"ok", true}, {"data", {{"configured", false}, {"signedIn", false}, {"ready", false}, {"signedInAs", nullptr}}}}));
  json r = s.call("fusion_aps_signin");
  EXPECT_EQ(r["success"], false);
  EXPECT_EQ(r["error"], "APS is not configured on Studio - no client id is set");

  Sim d("demo");
  r = d.call("fusion_aps_signin");  // APS lives in the bridge: Fusion need not run
  EXPECT_EQ(r["success"], true);
  json a = d.data("fusion_aps_status");
  EXPECT_EQ(a["signedIn"], true);
  EXPECT_EQ(a["signedInAs"]["email"], "pell@example.com");
  EXPECT_EQ(a["signedInAs"]["name"], "Pell Example");
}

TEST(StickySettings, ReadWithEmptyArgsAndSetWithEnabledOrMode) {
  Sim s("demo");
  EXPECT_EQ(s.call("fusion_set_auto_update"), json({{"success", true}, {"autoUpdateFusion", true}, {"changed", false}, {"sticky", true}}));
  EXPECT_EQ(s.call("fusion_set_auto_update", {{"enabled", false}})["changed"], true);
  EXPECT_EQ(s.call("fusion_set_auto_update")["autoUpdateFusion"], false);
  EXPECT_EQ(s.call("fusion_set_seat_takeover", {{"enabled", false}})["autoTakeOverSeat"], false);
  EXPECT_EQ(s.call("fusion_set_driving_badge", {{"enabled", false}})["showDrivingBadge"], false);
  EXPECT_EQ(s.call("fusion_set_activity_indicator", {{"mode", "flash"}})["activityIndicator"], "flash");
  EXPECT_EQ(s.call("fusion_set_activity_indicator")["activityIndicator"], "flash");

  json bad = s.call("fusion_set_driving_badge", {{"enabled", "yes"}});
  EXPECT_EQ(bad["error"], "fusion_set_driving_badge takes {\"enabled\": true|false}");
  bad = s.call("fusion_set_activity_indicator", {{"mode", "blink"}});
  EXPECT_EQ(bad["error"], "fusion_set_activity_indicator takes {\"mode\": \"progress\"|\"flash\"}");
  EXPECT_EQ(s.call("fusion_set_activity_indicator")["activityIndicator"], "flash");
}

TEST(StickySettings, PersistInTheBoxStateFileAcrossCalls) {
  TempDir dir;
  Store store(dir.path);
  ASSERT_TRUE(store.ensure_world(kT0));
  CallEnv env{kT0, nullptr};
  store.update({"Studio"}, [&](Boxes& b) { run_tool("fusion_set_driving_badge", {{"enabled", false}}, "Studio", b, env); });
  store.update({"Studio"}, [&](Boxes& b) { run_tool("fusion_set_activity_indicator", {{"mode", "flash"}}, "Studio", b, env); });
  json seen;
  store.update({"Studio"}, [&](Boxes& b) {
    seen = run_tool("fusion_set_driving_badge", json::object(), "Studio", b, env).answer.body;
    EXPECT_EQ(b.at("Studio").activity_indicator, "flash");
  });
  EXPECT_EQ(seen["showDrivingBadge"], false);
  store.update({"Bench"}, [&](Boxes& b) { EXPECT_TRUE(b.at("Bench").show_driving_badge); });
}

}  // namespace
}  // namespace sim::testing
