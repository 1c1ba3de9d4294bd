#include "bridge/status_payload.h"

#include <gtest/gtest.h>

namespace loomdeck {
namespace {

const Clock::WallTime kNow = std::chrono::system_clock::from_time_t(1796731200);  // 2026-12-08T12:00:00Z
const json kSettings = {{"autoGreenOnLaunch", true}, {"demoPart", "tolm/in-s63btg"}};

json payload(const json& readiness, const json& aps = json::object(), const json& mcp = json::object(),
             bool launching = false) {
  StatusProbes p;
  p.readiness = readiness;
  p.aps = aps;
  p.mcp = mcp;
  return json(box_status("Studio", p, kSettings, launching, kNow));
}

TEST(StatusPayload, OnlyRunningFalse) {
  const json s = payload({{"running", false}});
  EXPECT_TRUE(s["answered"].get<bool>());
  EXPECT_EQ(s["state"], "ok");
  EXPECT_EQ(s["busyReason"], nullptr);
  EXPECT_EQ(s["bridgeVersion"], nullptr);
  EXPECT_EQ(s["target"], "Studio");
  EXPECT_EQ(s["dashboardVersion"], "1.10.20");
  for (const char* led : {"fusionRunning", "addinReady", "signedIn", "aps", "mcp", "datahub"}) {
    EXPECT_FALSE(s["leds"][led]["on"].get<bool>()) << led;
  }
  EXPECT_TRUE(s["leds"]["update"]["on"].get<bool>());
  EXPECT_FALSE(s["leds"]["update"]["pending"].get<bool>());
  EXPECT_EQ(s["leds"]["fusionRunning"]["state"], "off");
  EXPECT_EQ(s["leds"]["fusionRunning"]["_hint"], "fusion_start launches it in the BACKGROUND (never steals focus).");
  EXPECT_EQ(s["leds"]["signedIn"]["_hint"], "Unknown until Fusion runs.");
  EXPECT_EQ(s["leds"]["signedIn"]["who"], nullptr);
  EXPECT_EQ(
      s["settings"],
      json::parse(
          R"({"activityIndicator":"progress","autoGreenOnLaunch":true,"autoTakeOverSeat":true,"autoUpdateFusion":true,"demoPart":"tolm/in-s63btg","showDrivingBadge":true})"));
}

TEST(StatusPayload, UnansweredCarriesTheReason) {
  json s = payload({{"error", "ovra-bridge CLI not runnable: No such file or directory"}});
  EXPECT_FALSE(s["answered"].get<bool>());
  EXPECT_EQ(s["state"], "warn");
  EXPECT_EQ(s["busyReason"], "ovra-bridge CLI not runnable: No such file or directory");
  s = payload({{"bridgeVersion", nullptr}});
  EXPECT_EQ(s["busyReason"], "the bridge did not answer (busy running a long verb?)");
  EXPECT_TRUE(payload({{"installed", false}})["answered"].get<bool>());
}

TEST(StatusPayload, FusionLedStates) {
  EXPECT_EQ(payload({{"running", false}}, {}, {}, true)["leds"]["fusionRunning"]["state"], "starting");
  // The bridge's own word on a launch wins over the server's memory of asking for one.
  EXPECT_EQ(payload({{"running", false}, {"launching", false}}, {}, {}, true)["leds"]["fusionRunning"]["state"], "off");
  EXPECT_EQ(payload({{"running", false}, {"launching", true}})["leds"]["fusionRunning"]["state"], "starting");
  EXPECT_EQ(payload({{"fusionRunning", true}, {"running", false}})["leds"]["fusionRunning"]["state"], "on");
  EXPECT_EQ(payload({{"fusionRunning", "yes"}, {"running", true}})["leds"]["fusionRunning"]["_hint"], "Fusion is up.");
}

TEST(StatusPayload, AddinLedRows) {
  const auto addin = [](const json& r) { return payload(r)["leds"]["addinReady"]; };
  json led = addin({{"running", true}, {"ready", true}, {"addinVersion", "2.4.1"}});
  EXPECT_EQ(led["state"], "on");
  EXPECT_EQ(led["version"], "2.4.1");
  EXPECT_EQ(led["_hint"], "Add-in serving - all fusion_* verbs live.");
  led = addin({{"running", false}, {"lastReadyAt", "2026-12-08T11:00:00"}});
  EXPECT_EQ(led["state"], "dormant");
  EXPECT_EQ(led["_hint"], "Dormant - resumes when Fusion starts (last verified 2026-12-08T11:00:00).");
  led = addin({{"running", false}});
  EXPECT_EQ(led["state"], "off");
  EXPECT_EQ(led["_hint"], "Not serving. If needsSignin, run fusion_signin - it self-drives to the password step.");
  led = addin({{"running", true}, {"lastReadyAt", "2026-12-08T11:50:00"}});
  EXPECT_EQ(led["state"], "busy");
  EXPECT_EQ(led["_hint"],
            "Busy or still starting - Fusion is up and the add-in was serving at 2026-12-08T11:50:00. A long verb (a "
            "tour, a 3D build) occupies its main thread, so readiness answers not-ready until it finishes.");
  led = addin({{"running", true}, {"lastReadyAt", "2025-12-08T11:50:00"}});
  EXPECT_EQ(led["state"], "stale");
  EXPECT_EQ(led["_hint"],
            "Stuck? Not serving since 2025-12-08T11:50:00 - a long verb never runs this long. Bounce it: fusion_stop "
            "then fusion_start (that also loads any newer installed add-in).");
  EXPECT_EQ(addin({{"running", true}, {"lastReadyAt", "2026-12-08"}})["state"], "stale");
  led = addin({{"running", true}});
  EXPECT_EQ(led["state"], "off");
  EXPECT_EQ(led["version"], "");
  // Fusion's process is up while its launch lands: the add-in is starting, not stuck.
  led = addin({{"running", true}, {"launching", true}, {"lastReadyAt", "2025-12-08T11:50:00"}});
  EXPECT_EQ(led["state"], "starting");
  EXPECT_EQ(led["_hint"], "Starting - Fusion is launching and its bridge add-in comes up when the launch lands.");
  EXPECT_EQ(payload({{"running", true}}, {}, {}, true)["leds"]["addinReady"]["state"], "starting");
}

TEST(StatusPayload, OverallStateWarnsOnlyWhenTheAddinWasNeverSeen) {
  EXPECT_EQ(payload({{"running", true}})["state"], "warn");
  EXPECT_EQ(payload({{"running", true}, {"lastReadyAt", "x"}})["state"], "ok");
  EXPECT_EQ(payload({{"running", true}, {"ready", true}})["state"], "ok");
}

TEST(ReadyTooOld, FieldsAndBoundary) {
  EXPECT_FALSE(ready_too_old("", kNow));
  EXPECT_FALSE(ready_too_old("2026-12-08T11:45:00", kNow));  // exactly 900 s
  EXPECT_TRUE(ready_too_old("2026-12-08T11:44:59", kNow));
  EXPECT_FALSE(ready_too_old("2026-12-08 11:59:00.123Z", kNow));  // separators are not examined
  EXPECT_TRUE(ready_too_old("2026-13-08T11:59:00", kNow));
  EXPECT_TRUE(ready_too_old("2026-12-00T11:59:00", kNow));
  EXPECT_TRUE(ready_too_old("2026-12-08T1a:59:00", kNow));
  EXPECT_TRUE(ready_too_old("2026-12-08", kNow));
  EXPECT_FALSE(ready_too_old("2027-01-01T00:00:00", kNow));  // in the future
}

TEST(StatusPayload, SignInAndMcpAndApsLeds) {
  json s = payload({{"running", true}, {"needsSignin", true}, {"fusionUser", {{"user", "ann@x.io"}}}});
  EXPECT_FALSE(s["leds"]["signedIn"]["on"].get<bool>());
  EXPECT_EQ(s["leds"]["signedIn"]["state"], "off");
  EXPECT_EQ(s["leds"]["signedIn"]["who"], "ann@x.io");
  EXPECT_EQ(s["leds"]["signedIn"]["_hint"],
            "fusion_signin {email} self-drives the whole wall: launches, clicks, types the email, toasts the user ONLY "
            "at their password.");
  EXPECT_FALSE(s["leds"]["signedIn"].contains("wall"));
  // Where the wall stands is carried, so a page can tell the user when the password is theirs to type.
  EXPECT_EQ(payload({{"running", true}, {"needsSignin", true}, {"signinWall", "password"}})["leds"]["signedIn"]["wall"],
            "password");
  s = payload({{"running", false}, {"lastSignedInAt", "2026-12-01T10:00:00"}}, {},
              {{"enabled", false}, {"lastEnabledAt", "2026-12-01T10:05:00"}});
  EXPECT_EQ(s["leds"]["signedIn"]["state"], "dormant");
  EXPECT_EQ(s["leds"]["signedIn"]["_hint"],
            "Signed in (verified 2026-12-01T10:00:00). Unknowable while Fusion is closed - dormant, not broken.");
  EXPECT_EQ(s["leds"]["mcp"]["state"], "dormant");
  EXPECT_EQ(s["leds"]["mcp"]["_hint"],
            "Enabled in Fusion's preferences (verified 2026-12-01T10:05:00) - resumes when Fusion starts.");
  s = payload({{"running", true}},
              {{"signedIn", false}, {"configured", true}, {"ready", true}, {"signedInAs", {{"name", "Ann"}}}},
              {{"enabled", true}});
  EXPECT_TRUE(s["leds"]["aps"]["on"].get<bool>());  // signedIn false falls through to ready
  EXPECT_EQ(s["leds"]["aps"]["who"], "Ann");
  EXPECT_EQ(s["leds"]["datahub"]["who"], "Ann");
  EXPECT_EQ(s["leds"]["mcp"]["_hint"], "fusion_mcp_call drives Autodesk's own MCP tools.");
  EXPECT_EQ(s["leds"]["signedIn"]["_hint"], "Signed in.");
  s = payload({{"running", true}}, {{"configured", true}, {"signedInAs", {{"email", "a@b.c"}, {"name", "Ann"}}}});
  EXPECT_EQ(s["leds"]["aps"]["who"], "a@b.c");
  EXPECT_EQ(
      payload({{"running", true}}, {{"configured", false}})["leds"]["aps"]["_hint"],
      "Not configured: fusion_aps_set_client_id then fusion_aps_signin (silent when the browser session is warm).");
  // A client id set but no sign-in yet: only the sign-in is left, and the hint must not send an agent to configure it
  // again.
  EXPECT_EQ(payload({{"running", true}}, {{"configured", true}, {"signedIn", false}})["leds"]["aps"]["_hint"],
            "Configured, not signed in: fusion_aps_signin (silent when the browser session is warm).");
}

TEST(StatusPayload, UpdateLedAndSettings) {
  json s = payload({{"running", true}, {"fusionUpdateOffered", true}});
  EXPECT_FALSE(s["leds"]["update"]["on"].get<bool>());
  EXPECT_TRUE(s["leds"]["update"]["pending"].get<bool>());
  EXPECT_EQ(s["leds"]["update"]["_hint"],
            "An update is WAITING. Auto-update normally clicks it silently; offer to run it now.");
  EXPECT_TRUE(
      payload({{"fusionUpdateOffered", true}, {"fusionUpdateHandled", true}})["leds"]["update"]["on"].get<bool>());

  StatusProbes p;
  p.readiness = {{"running", false}};
  p.auto_update = {{"autoUpdateFusion", false}};
  p.seat_takeover = {{"autoTakeOverSeat", "no"}};
  p.driving_badge = {{"showDrivingBadge", false}};
  p.activity_indicator = {{"activityIndicator", "spinner"}};
  s = json(box_status("Bench", p, {{"autoGreenOnLaunch", nullptr}}, false, kNow));
  EXPECT_EQ(
      s["settings"],
      json::parse(
          R"({"activityIndicator":"spinner","autoGreenOnLaunch":true,"autoTakeOverSeat":true,"autoUpdateFusion":false,"demoPart":null,"showDrivingBadge":false})"));
}

}  // namespace
}  // namespace loomdeck
