#include "png.h"
#include "sim_fixtures.h"

namespace sim::testing {
namespace {

const std::string kDest = "C:/Users/pell/AppData/Local/Temp/loomdeck-surfaces";
const std::string kLib = kDest + "/IN-S63BTG.lbr";
const std::string kStep = kDest + "/IN-S63BTG.step";

struct Staged : Sim {
  Staged() : Sim("signed-in") {
    container_files = {{"/tmp/clone/IN-S63BTG.lbr", 2493}, {"/tmp/clone/IN-S63BTG.step", 688}};
  }
  json send() { return call("send_files", {{"dest", kDest}, {"filePaths", {"/tmp/clone/IN-S63BTG.lbr", "/tmp/clone/IN-S63BTG.step"}}}); }
};

TEST(Parts, SendFilesPlacesTheFilesOnTheBoxAndIsWrapped) {
  Staged s;
  json r = s.send();
  EXPECT_EQ(r["ok"], true);
  EXPECT_EQ(r["data"]["success"], true);
  EXPECT_EQ(r["data"]["sent"][0], json({{"from", "/tmp/clone/IN-S63BTG.lbr"}, {"to", kLib}, {"bytes", 2493}}));
  EXPECT_EQ(s.box().files.at(kStep), 688);

  r = s.call("send_files", {{"dest", kDest + "/"}, {"filePaths", {"/tmp/clone/missing.lbr"}}});
  EXPECT_EQ(r["ok"], false);
  EXPECT_EQ(r["error"], "could not send 1 file(s)");
  EXPECT_EQ(r["data"]["failed"][0]["path"], "/tmp/clone/missing.lbr");
  EXPECT_EQ(s.call("send_files", {{"dest", kDest}})["data"]["error"], "send_files needs dest and a non-empty filePaths array");
}

TEST(Parts, StagingThenEverySurfaceRendersABelievableCapture) {
  Staged s;
  s.send();
  json bound = s.call("fusion_bind_library_3d", {{"libraryPath", kLib}, {"stepPath", kStep}});
  EXPECT_EQ(bound["success"], true);
  json project = s.call("fusion_make_test_project", {{"libraryPath", kLib}});
  EXPECT_EQ(project["success"], true);
  EXPECT_EQ(project["project"], "ovra-test-IN-S63BTG");
  EXPECT_EQ(project["with3d"], true);
  EXPECT_EQ(s.data("fusion_state")["activeDocument"], "ovra-test-IN-S63BTG board");

  std::set<std::string> images;
  for (const char* tool : {"fusion_show_symbol", "fusion_show_footprint", "fusion_show_3d_package"}) {
    json r = s.call(tool, {{"libraryPath", kLib}, {"name", "IN-S63BTG"}});
    EXPECT_EQ(r["success"], true) << tool;
    EXPECT_EQ(r["status"], "ok");
    std::string img = s.data("fusion_state", {{"imageAs", "base64"}})["screenshotBase64"];
    EXPECT_GT(img.size(), 2000u) << tool;
    EXPECT_EQ(base64_decode(img).substr(0, 8), "\x89PNG\r\n\x1a\n");
    images.insert(img);
  }
  EXPECT_EQ(s.call("fusion_show_library", {{"libraryPath", kLib}})["surface"], "library");
  for (const char* tool : {"fusion_show_schematic", "fusion_show_2d_board", "fusion_show_3d_board", "fusion_show_project"}) {
    EXPECT_EQ(s.call(tool)["success"], true) << tool;
    images.insert(s.data("fusion_state", {{"imageAs", "base64"}})["screenshotBase64"].get<std::string>());
  }
  EXPECT_EQ(images.size(), 7u);  // each surface looks different
}

TEST(Parts, SurfaceRefusalsNameWhatIsMissing) {
  Staged s;
  EXPECT_EQ(s.call("fusion_show_symbol", {{"libraryPath", kLib}, {"name", "IN-S63BTG"}})["error"], "library not found on the box: " + kLib);
  s.send();
  EXPECT_EQ(s.call("fusion_show_footprint", {{"libraryPath", kLib}, {"name", "LM358"}})["error"], "deviceset LM358 not found in IN-S63BTG.lbr");
  EXPECT_EQ(s.call("fusion_show_schematic")["error"], "no design open - run fusion_make_test_project first");
  s.call("fusion_kill");
  EXPECT_EQ(s.call("fusion_show_symbol", {{"libraryPath", kLib}, {"name", "IN-S63BTG"}})["error"], "Fusion is not running on Studio");
}

TEST(Parts, AProjectThatOutrunsTheRelayWindowTimesOutThenShowsUpAsATestDocument) {
  Staged s;
  s.send();
  s.box().project_seconds = 100;
  s.box().relay_window_seconds = 60;
  json r = s.call("fusion_make_test_project", {{"libraryPath", kLib}});
  EXPECT_EQ(r["success"], false);
  EXPECT_EQ(r["error"], "fusion_make_test_project timed out after 60s in the relay window - the add-in is still working on it");
  json st = s.data("fusion_state");
  EXPECT_EQ(st["mainThreadBusy"], "fusion_make_test_project");
  EXPECT_EQ(st["addinResponding"], true);
  json busy = s.call("fusion_show_symbol", {{"libraryPath", kLib}, {"name", "IN-S63BTG"}});
  EXPECT_EQ(busy["errorCode"], "main_thread_busy");
  s.pass(40);
  st = s.data("fusion_state");
  EXPECT_FALSE(st.contains("mainThreadBusy"));
  EXPECT_EQ(st["title"], "Autodesk Fusion - ovra-test-IN-S63BTG board");
}

TEST(Parts, OpenLbrIsWrappedAndReportsABusyMainThreadByCode) {
  Staged s;
  s.send();
  json r = s.call("fusion_open_lbr", {{"filePath", kLib}});
  EXPECT_EQ(r["ok"], true);
  EXPECT_EQ(r["data"]["opened"], kLib);
  EXPECT_EQ(s.box().documents.back(), "IN-S63BTG.lbr");
  s.box().ops.push_back({"op-x", "fusion_build_3d", s.now + 60'000, json::object(), true});
  r = s.call("fusion_open_lbr", {{"filePath", kLib}});
  EXPECT_EQ(r["ok"], false);
  EXPECT_EQ(r["data"]["errorCode"], "main_thread_busy");
  EXPECT_EQ(r["data"]["error"], "main thread busy: fusion_build_3d is in progress from another caller");
}

TEST(Parts, BlankCapturesComeBackEmptyWhileCounted) {
  Sim s("signed-in");
  s.box().capture_blank = 1;
  EXPECT_EQ(s.data("fusion_state", {{"imageAs", "base64"}})["screenshotBase64"], "");
  EXPECT_GT(s.data("fusion_state", {{"imageAs", "base64"}})["screenshotBase64"].get<std::string>().size(), 2000u);
  s.call("fusion_kill");
  EXPECT_GT(s.data("fusion_state", {{"imageAs", "base64"}})["screenshotBase64"].get<std::string>().size(), 2000u);  // the desktop
}

}  // namespace
}  // namespace sim::testing
