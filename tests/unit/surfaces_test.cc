#include "parts/surfaces.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>

#include "part_services.h"
#include "parts/staging.h"
#include "parts/surface_table.h"
#include "parts/wiki_files.h"
#include "wiki_fake.h"

namespace loomdeck {
namespace {

namespace fs = std::filesystem;

const std::string kPart = "tolm/in-s63btg";
const std::string kLib = "C:/Users/pell/AppData/Local/Temp/loomdeck-surfaces/IN-S63BTG.lbr";
const std::string kCaptureArgs = "{\"imageAs\":\"base64\"}";
const std::string kPicture(2600, 'P');
const std::string kSurfaceTools[] = {"fusion_show_symbol",   "fusion_show_footprint", "fusion_show_3d_package",
                                     "fusion_show_library",  "fusion_show_schematic", "fusion_show_2d_board",
                                     "fusion_show_3d_board", "fusion_show_project"};

json busy_state() { return json{{"addinResponding", true}, {"mainThreadBusy", "fusion_build_3d"}}; }

// A box whose add-in is ready and whose part tools succeed unless a test queues other answers.
class SurfacesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    install_wiki(runner_, {{kPart, {"IN-S63BTG.lbr", "IN-S63BTG.step", "README.md"}},
                           {"tolm/shout-case", {"SHOUT-CASE.LBR", "SHOUT-CASE.STP"}},
                           {"tolm/in-s42ata", {"IN-S42ATA.lbr"}},
                           {"tolm/datasheet-only", {"datasheet.txt"}}});
    bridge_.on("fusion_readiness", [this](const std::string&, const std::string&) {
      return json{{"data", {{"ready", ready_}, {"running", ready_}}}};
    });
    bridge_.answer("send_files", json::parse(R"({"ok":true,"data":{"success":true}})"));
    bridge_.answer("fusion_bind_library_3d", json{{"success", true}});
    bridge_.answer("fusion_dismiss_blocking_dialogs", json{{"success", true}});
    bridge_.on("fusion_make_test_project", [this](const std::string&, const std::string&) {
      return next(projects_, json{{"success", true}, {"project", "ovra-test-IN-S63BTG"}});
    });
    bridge_.on("fusion_state", [this](const std::string&, const std::string& args) {
      if (args == kCaptureArgs) return json{{"screenshotBase64", next(captures_, json(kPicture))}};
      return next(states_, json{{"addinResponding", true}, {"activeDocument", document_}});
    });
    for (const std::string& tool : kSurfaceTools) {
      bridge_.on(tool, [this](const std::string&, const std::string&) {
        return next(shows_, json{{"success", true}, {"status", "ok"}});
      });
    }
    svc_.run_in_background = [](std::function<void()>) {};
  }

  static json next(std::deque<json>& queue, json fallback) {
    if (queue.empty()) return fallback;
    json front = queue.front();
    queue.pop_front();
    return front;
  }
  json show(const std::string& surface, const std::string& part = kPart) {
    return show_surface(svc_.parts, "Studio", surface, part);
  }
  std::vector<BridgeCall> calls_of(const std::string& tool) {
    std::vector<BridgeCall> out;
    for (const BridgeCall& c : bridge_.calls()) {
      if (c.tool == tool) out.push_back(c);
    }
    return out;
  }
  int captures_taken() {
    int n = 0;
    for (const BridgeCall& c : calls_of("fusion_state")) n += c.args == kCaptureArgs;
    return n;
  }
  bool logged(const std::string& line) {
    const auto lines = svc_.log.lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  std::vector<std::string> clones() {
    std::vector<std::string> pages;
    for (const auto& argv : runner_.calls) {
      if (!argv.empty() && argv[0] == "ovra-wiki") pages.push_back(argv[2]);
    }
    return pages;
  }

  FakeClock clock_;
  FakeRunner runner_;
  ScriptedBridge bridge_;
  RecordingSink sink_;
  PartServices svc_{clock_, runner_, bridge_, sink_};
  bool ready_ = true;
  std::string document_ = "ovra-test-IN-S63BTG schematic";
  std::deque<json> states_, captures_, shows_, projects_;
};

TEST_F(SurfacesTest, SurfaceKeysAreExactAndCaseSensitive) {
  EXPECT_EQ(dump_compact(show("Symbol")), "{\"error\":\"unknown surface Symbol\"}");
  EXPECT_EQ(dump_compact(show("")), "{\"error\":\"unknown surface \"}");
  EXPECT_TRUE(bridge_.calls().empty());
  EXPECT_TRUE(runner_.calls.empty());
  ASSERT_NE(find_surface("package3d"), nullptr);
  EXPECT_EQ(find_surface("package3d")->label, "3D package");
  EXPECT_EQ(find_surface("board2d")->tool, "fusion_show_2d_board");
  EXPECT_TRUE(find_surface("project")->needs_project);
  EXPECT_FALSE(find_surface("library")->needs_project);
}

TEST_F(SurfacesTest, FirstRequestStagesThePartAndASecondUsesTheCache) {
  const json reply = show("symbol");
  EXPECT_EQ(dump_compact(reply),
            "{\"_hint\":\"Symbol surface via fusion_show_symbol on the staged part - opened in the BACKGROUND and "
            "rendered with fusion_state.\",\"deviceset\":\"IN-S63BTG\",\"error\":null,\"image\":\"" +
                kPicture + "\",\"label\":\"Symbol\",\"ok\":true,\"surface\":\"symbol\"}");

  ASSERT_EQ(runner_.calls.size(), 1u);
  const std::string dir = runner_.calls[0].at(4);
  EXPECT_EQ(dir.rfind((fs::temp_directory_path() / "loomdeck-surfaces-").string(), 0), 0u) << dir;
  EXPECT_FALSE(fs::exists(dir));
  EXPECT_EQ(runner_.calls[0], (std::vector<std::string>{"ovra-wiki", "clone", kPart, "--dir", dir}));
  EXPECT_EQ(bridge_.tools(), (std::vector<std::string>{"fusion_readiness", "send_files", "fusion_bind_library_3d",
                                                       "fusion_make_test_project", "fusion_state", "fusion_show_symbol",
                                                       "fusion_state", "fusion_state"}));
  const auto calls = bridge_.calls();
  EXPECT_EQ(calls[1].args, "{\"dest\":\"C:/Users/pell/AppData/Local/Temp/loomdeck-surfaces\",\"filePaths\":[\"" + dir +
                               "/IN-S63BTG.lbr\",\"" + dir + "/IN-S63BTG.step\"]}");
  EXPECT_EQ(calls[2].args,
            "{\"libraryPath\":\"" + kLib +
                "\",\"stepPath\":\"C:/Users/pell/AppData/Local/Temp/loomdeck-surfaces/IN-S63BTG.step\"}");
  EXPECT_EQ(calls[3].args, "{\"libraryPath\":\"" + kLib + "\"}");
  EXPECT_EQ(calls[5].args, "{\"libraryPath\":\"" + kLib + "\",\"name\":\"IN-S63BTG\"}");
  for (const BridgeCall& c : calls) {
    EXPECT_EQ(c.attribution, "t7");
    EXPECT_EQ(c.box, "Studio");
  }
  // The main-thread wait before the tool and the one before the capture: 10 s each.
  EXPECT_EQ(clock_.elapsed(), 20);

  const std::vector<std::pair<std::string, std::string>> narrated = {
      {"Staging tolm/in-s63btg from the wiki (clone -> send -> bind 3D -> generate project)", ""},
      {"Binding the part's real 3D model into the library", ""},
      {"Generating a solo test project around the part", ""},
      {"IN-S63BTG staged - every surface button is live", "ok"}};
  const auto events = sink_.events();
  ASSERT_EQ(events.size(), narrated.size());
  for (std::size_t i = 0; i < narrated.size(); ++i) {
    EXPECT_EQ(events[i].first, "toast");
    EXPECT_EQ(events[i].second, (json{{"kind", narrated[i].second}, {"message", narrated[i].first}}));
    EXPECT_TRUE(logged("surfaces: " + narrated[i].first)) << narrated[i].first;
  }
  const std::optional<StagedPart> cached = svc_.parts.staged_parts.get("Studio|tolm/in-s63btg");
  ASSERT_TRUE(cached);
  EXPECT_EQ(cached->library_path, kLib);
  EXPECT_EQ(cached->deviceset, "IN-S63BTG");
  EXPECT_TRUE(cached->generated);

  const std::size_t before = bridge_.calls().size();
  EXPECT_EQ(show("symbol"), reply);
  EXPECT_EQ(runner_.calls.size(), 1u);
  EXPECT_EQ(sink_.events().size(), narrated.size());
  const auto again = bridge_.calls();
  EXPECT_EQ(again.size() - before, 4u);  // settle, tool, settle, capture: no readiness, send or project
  EXPECT_EQ(bridge_.count("fusion_make_test_project"), 1);

  // The cache is per box.
  show_surface(svc_.parts, "Bench", "symbol", kPart);
  EXPECT_EQ(clones().size(), 2u);
  EXPECT_TRUE(svc_.parts.staged_parts.contains("Bench|tolm/in-s63btg"));
}

TEST_F(SurfacesTest, StagingFailuresAnswerWithTheirSentenceAndLeaveTheCacheAlone) {
  EXPECT_EQ(dump_compact(show("symbol", "tolm/no-such-part")), "{\"error\":\"tolm/no-such-part publishes no .lbr\"}");
  EXPECT_EQ(dump_compact(show("footprint", "tolm/datasheet-only")),
            "{\"error\":\"tolm/datasheet-only publishes no .lbr\"}");
  EXPECT_EQ(bridge_.count("send_files"), 0);
  EXPECT_EQ(sink_.toasts().back(),
            "Staging tolm/datasheet-only from the wiki (clone -> send -> bind 3D -> generate project)");

  // References that would read as an option or step out of the wiki never reach ovra-wiki.
  for (const std::string bad : {"--help", "-x", "tolm/../../etc", "./x", "tolm/a\nb", ""}) {
    EXPECT_EQ(show("symbol", bad), (json{{"error", bad + " publishes no .lbr"}})) << bad;
  }
  EXPECT_EQ(clones(), (std::vector<std::string>{"tolm/no-such-part", "tolm/datasheet-only"}));

  FakeRunner no_wiki;
  PartServices bare(clock_, no_wiki, bridge_, sink_);
  EXPECT_EQ(dump_compact(show_surface(bare.parts, "Studio", "symbol", kPart)),
            "{\"error\":\"ovra-wiki CLI not runnable\"}");
  EXPECT_FALSE(bare.parts.staged_parts.contains("Studio|tolm/in-s63btg"));

  ready_ = false;
  bridge_.answer("fusion_start", json{{"success", true}});
  for (const char* t : {"fusion_aps_status", "fusion_mcp_status", "fusion_set_auto_update", "fusion_set_seat_takeover",
                        "fusion_set_driving_badge", "fusion_set_activity_indicator"}) {
    bridge_.answer(t, json::object());
  }
  const std::size_t clones_before = runner_.calls.size();
  EXPECT_EQ(dump_compact(show("symbol")),
            "{\"error\":\"Fusion did not become ready on Studio within the measured launch budget for that machine. "
            "Open the Settings and check the status cards - a sign-in wall or a stuck launch will say so there.\"}");
  EXPECT_GE(clock_.elapsed(), 240);
  EXPECT_EQ(runner_.calls.size(), clones_before);
  EXPECT_FALSE(svc_.parts.staged_parts.contains("Studio|tolm/in-s63btg"));
}

TEST_F(SurfacesTest, UpperCaseExtensionsStageAndAPartWithoutAModelSkipsTheBind) {
  show("symbol", "tolm/shout-case");
  const auto sent = calls_of("send_files");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_NE(sent[0].args.find("/SHOUT-CASE.LBR\",\""), std::string::npos);
  EXPECT_NE(sent[0].args.find("/SHOUT-CASE.STP\"]"), std::string::npos);
  EXPECT_EQ(calls_of("fusion_bind_library_3d")[0].args,
            "{\"libraryPath\":\"C:/Users/pell/AppData/Local/Temp/loomdeck-surfaces/SHOUT-CASE.LBR\",\"stepPath\":"
            "\"C:/Users/pell/AppData/Local/Temp/loomdeck-surfaces/SHOUT-CASE.STP\"}");
  EXPECT_EQ(svc_.parts.staged_parts.get("Studio|tolm/shout-case")->deviceset, "SHOUT-CASE");

  const json reply = show("library", "tolm/in-s42ata");
  EXPECT_EQ(reply["deviceset"], "IN-S42ATA");
  EXPECT_EQ(bridge_.count("fusion_bind_library_3d"), 1);
  const auto toasts = sink_.toasts();
  EXPECT_EQ(std::count(toasts.begin(), toasts.end(), "Binding the part's real 3D model into the library"), 1);
  EXPECT_EQ(calls_of("fusion_show_library")[0].args,
            "{\"libraryPath\":\"C:/Users/pell/AppData/Local/Temp/loomdeck-surfaces/IN-S42ATA.lbr\"}");
}

TEST_F(SurfacesTest, PickingTheStagedFiles) {
  const StagingFiles f =
      pick_staging_files({"a.lbr", "x.STEP", "notes.txt", "b.LBR", "y.stp", "\xff\xfe.lbr", "\xff.step", "..\\evil.lbr",
                          "C:evil.lbr", ".hidden.lbr", "sub/evil.stp", "nodot-step"});
  EXPECT_EQ(f.library, "b.LBR");  // a later entry of a kind replaces an earlier one
  EXPECT_EQ(f.model, "y.stp");
  EXPECT_FALSE(pick_staging_files({"README.md"}).library);
  EXPECT_EQ(deviceset_of("IN-S63BTG.lbr"), "IN-S63BTG");
  EXPECT_EQ(deviceset_of("lib.v2.lbr"), "lib.v2");
  EXPECT_EQ(deviceset_of("NODOT"), "NODOT");

  // Only regular files of the clone itself are listed: a link or a folder named like a library
  // never sends anything from outside the clone.
  const PrivateFolder folder("loomdeck-test-");
  EXPECT_EQ(fs::status(folder.path()).permissions(), fs::perms::owner_all);
  const fs::path dir = folder.path();
  fs::create_directories(dir / "sub.lbr");
  std::ofstream(dir / "real.step") << "x";
  fs::create_symlink("/etc/passwd", dir / "evil.lbr");
  EXPECT_EQ(list_clone_files(dir.string()), std::vector<std::string>{"real.step"});
  EXPECT_TRUE(list_clone_files((dir / "missing").string()).empty());
}

TEST_F(SurfacesTest, AProjectThatTimedOutCountsWhenItsTestDocumentIsInFront) {
  projects_.push_back(
      json{{"success", false}, {"error", "fusion_make_test_project timed out after 60s in the relay window"}});
  states_ = {busy_state(), busy_state()};
  show("schematic");
  const auto toasts = sink_.toasts();
  EXPECT_EQ(std::count(toasts.begin(), toasts.end(),
                       "Design surfaces need the test project - I will generate it when you click one"),
            0);
  EXPECT_TRUE(svc_.parts.staged_parts.get("Studio|tolm/in-s63btg")->generated);
  EXPECT_EQ(bridge_.count("fusion_make_test_project"), 1);
  EXPECT_EQ(calls_of("fusion_show_schematic")[0].args, "{}");
}

TEST_F(SurfacesTest, AProjectThatCouldNotBeGeneratedIsRetriedOnlyForProjectSurfaces) {
  projects_.push_back(json::parse(R"({"ok":false,"error":"relay timeout","data":{"error":"still busy"}})"));
  document_ = "Untitled";
  show("symbol");
  EXPECT_EQ(sink_.toasts()[3], "Design surfaces need the test project - I will generate it when you click one");
  EXPECT_TRUE(logged("surfaces: Design surfaces need the test project - I will generate it when you click one"));
  EXPECT_EQ(sink_.toasts().back(), "IN-S63BTG staged - every surface button is live");
  EXPECT_FALSE(svc_.parts.staged_parts.get("Studio|tolm/in-s63btg")->generated);

  show("footprint");
  EXPECT_EQ(bridge_.count("fusion_make_test_project"), 1);

  // A plain failure: the reply names the bridge's error as JSON text, and the next click retries.
  projects_ = {json{{"success", false}, {"error", "library not found on the box"}}, json{{"success", false}}};
  EXPECT_EQ(dump_compact(show("board2d")),
            "{\"_hint\":\"The design surfaces need a generated project; the component surfaces (symbol, footprint, 3D "
            "package, library) work without it.\",\"error\":\"could not generate the test project: \\\"library not "
            "found on the box\\\"\",\"label\":\"2D board\",\"ok\":false,\"surface\":\"board2d\"}");
  EXPECT_EQ(show("project")["error"], "could not generate the test project: null");
  EXPECT_EQ(bridge_.count("fusion_make_test_project"), 3);
  EXPECT_EQ(bridge_.count("fusion_show_2d_board"), 0);
  EXPECT_EQ(sink_.toasts().back(), "Generating the test project for the design surfaces");

  // A generation that times out waits for Fusion and takes the test document as the outcome.
  projects_ = {
      json{{"success", false}, {"error", "main thread busy: fusion_build_3d is in progress from another caller"}}};
  document_ = "ovra-test-IN-S63BTG board";
  const json reply = show("board3d");
  EXPECT_EQ(reply["ok"], true);
  const auto toasts = sink_.toasts();
  EXPECT_NE(std::find(toasts.begin(), toasts.end(),
                      "The test project is still generating - waiting for Fusion to finish"),
            toasts.end());
  EXPECT_TRUE(svc_.parts.staged_parts.get("Studio|tolm/in-s63btg")->generated);
  show("schematic");
  EXPECT_EQ(bridge_.count("fusion_make_test_project"), 4);
}

TEST_F(SurfacesTest, ProjectGenerationOnDemandNeedsAReadyBox) {
  projects_.push_back(json{{"success", false}, {"error", "no library"}});
  show("symbol");
  ready_ = false;
  bridge_.answer("fusion_start", json{{"success", true}});
  for (const char* t : {"fusion_aps_status", "fusion_mcp_status", "fusion_set_auto_update", "fusion_set_seat_takeover",
                        "fusion_set_driving_badge", "fusion_set_activity_indicator"}) {
    bridge_.answer(t, json::object());
  }
  EXPECT_EQ(dump_compact(show("schematic")),
            "{\"_hint\":\"Open Settings and read the status cards - a sign-in wall or a stuck launch is reported "
            "there.\",\"error\":\"Fusion did not become ready on Studio in time\",\"label\":\"Schematic\",\"ok\":false,"
            "\"surface\":\"schematic\"}");
  EXPECT_EQ(bridge_.count("fusion_make_test_project"), 1);
}

TEST_F(SurfacesTest, EachSurfaceWaitsForTheMainThreadThenGetsItsArguments) {
  show("symbol");
  for (const std::string surface :
       {"symbol", "footprint", "package3d", "library", "schematic", "board2d", "board3d", "project"}) {
    states_ = {busy_state(), json{{"addinResponding", true}, {"mainThreadBusy", false}}, busy_state()};
    const double start = clock_.elapsed();
    const std::size_t first = bridge_.calls().size();
    const json reply = show(surface);
    EXPECT_EQ(reply["ok"], true) << surface;
    const auto calls = bridge_.calls();
    // Three busy looks (a present `false` counts as busy), then the free one, then the tool.
    std::vector<std::string> tools;
    for (std::size_t i = first; i < first + 5; ++i) tools.push_back(calls[i].tool);
    const std::string tool(find_surface(surface)->tool);
    EXPECT_EQ(tools, (std::vector<std::string>{"fusion_state", "fusion_state", "fusion_state", "fusion_state", tool}));
    EXPECT_EQ(clock_.elapsed() - start, 50) << surface;
    const std::string args = calls[first + 4].args;
    if (find_surface(surface)->needs_project) {
      EXPECT_EQ(args, "{}");
    } else if (surface == "library") {
      EXPECT_EQ(args, "{\"libraryPath\":\"" + kLib + "\"}");
    } else {
      EXPECT_EQ(args, "{\"libraryPath\":\"" + kLib + "\",\"name\":\"IN-S63BTG\"}");
    }
  }
}

TEST_F(SurfacesTest, AVerbThatOutranTheRelayWindowIsAcceptedOnceFusionIsFree) {
  show("symbol");
  shows_.push_back(
      json{{"success", false},
           {"error",
            "fusion_show_footprint timed out after 60s in the relay window - the add-in is still working on it"}});
  states_ = {json{{"addinResponding", true}}, busy_state(), busy_state()};
  const json reply = show("footprint");
  EXPECT_EQ(reply["ok"], true);
  EXPECT_EQ(reply["error"], nullptr);
  EXPECT_EQ(reply["image"], kPicture);
  EXPECT_EQ(reply["note"],
            "the verb outran the relay window; the bridge finished it and the view was verified by capture");
  EXPECT_EQ(sink_.toasts().back(), "Footprint is waiting its turn on Fusion's main thread");
  EXPECT_EQ(bridge_.count("fusion_show_footprint"), 1);
  EXPECT_EQ(bridge_.count("fusion_dismiss_blocking_dialogs"), 0);

  // The busy sign may sit in `status` too, and in the wrapped payload.
  shows_.push_back(json::parse(R"({"ok":false,"data":{"success":false,"status":"Main Thread Busy"}})"));
  states_ = {json{{"addinResponding", true}}, busy_state()};
  EXPECT_EQ(show("package3d")["ok"], true);
  EXPECT_EQ(bridge_.count("fusion_show_3d_package"), 1);
}

TEST_F(SurfacesTest, AVerbStillBusyAfter24LooksGoesToRemediation) {
  show("symbol");
  shows_ = {json{{"success", false}, {"status", "timeout"}}, json{{"success", false}, {"status", "timeout"}}};
  states_.push_back(json{{"addinResponding", true}});
  for (int i = 0; i < 24; ++i) states_.push_back(busy_state());
  const double start = clock_.elapsed();
  const json reply = show("symbol");
  EXPECT_EQ(
      dump_compact(reply),
      "{\"_hint\":\"Symbol surface via fusion_show_symbol on the staged part - opened in the BACKGROUND and "
      "rendered with fusion_state.\",\"deviceset\":\"IN-S63BTG\",\"error\":null,\"image\":null,\"label\":\"Symbol\","
      "\"ok\":false,\"surface\":\"symbol\"}");
  // 10 s settle, 24 looks of 10 s, 2 s before the single retry; no capture.
  EXPECT_EQ(clock_.elapsed() - start, 252);
  EXPECT_EQ(bridge_.count("fusion_show_symbol"), 3);
  EXPECT_EQ(bridge_.count("fusion_dismiss_blocking_dialogs"), 1);
  EXPECT_EQ(captures_taken(), 1);  // the first request's only
  EXPECT_TRUE(logged("surface symbol failed (null), remediating"));
}

TEST_F(SurfacesTest, AFailureNamingTheDevicesetRestagesBeforeTheSingleRetry) {
  show("symbol");
  shows_.push_back(json{{"success", false}, {"error", "deviceset IN-S63BTG not found in IN-S63BTG.lbr"}});
  const std::size_t toasts_before = sink_.toasts().size();
  const json reply = show("symbol");
  EXPECT_EQ(reply["ok"], true);
  EXPECT_EQ(reply["error"], nullptr);
  EXPECT_EQ(reply["image"], kPicture);
  EXPECT_TRUE(logged("surface symbol failed (\"deviceset IN-S63BTG not found in IN-S63BTG.lbr\"), remediating"));
  const auto toasts = sink_.toasts();
  EXPECT_EQ(toasts[toasts_before], "Symbol did not open first try - clearing the way and retrying");
  EXPECT_EQ(toasts[toasts_before + 1],
            "Staging tolm/in-s63btg from the wiki (clone -> send -> bind 3D -> generate project)");
  EXPECT_EQ(clones().size(), 2u);
  EXPECT_EQ(bridge_.count("send_files"), 2);
  EXPECT_EQ(bridge_.count("fusion_show_symbol"), 3);
  EXPECT_TRUE(svc_.parts.staged_parts.contains("Studio|tolm/in-s63btg"));
  const auto tools = bridge_.tools();
  const auto dismiss = std::find(tools.begin(), tools.end(), "fusion_dismiss_blocking_dialogs");
  ASSERT_NE(dismiss, tools.end());
  EXPECT_EQ(*(dismiss + 1), "fusion_readiness");  // the re-staging's ready-first check
}

TEST_F(SurfacesTest, ABusyMainThreadIsWaitedOutAndASilentAddinIsHealedBeforeTheRetry) {
  show("symbol");
  shows_ = {json::parse(R"({"ok":false,"error":"refused","data":{"errorCode":"main_thread_busy","error":"held"}})"),
            json{{"success", false}, {"error", "still held"}}};
  states_ = {json{{"addinResponding", true}}, busy_state(), busy_state(), json{{"addinResponding", true}}};
  const double start = clock_.elapsed();
  const json reply = show("footprint");
  EXPECT_EQ(dump_compact(reply),
            "{\"_hint\":\"Footprint surface via fusion_show_footprint on the staged part - opened in the BACKGROUND "
            "and rendered with fusion_state.\",\"deviceset\":\"IN-S63BTG\",\"error\":\"still held\",\"image\":null,"
            "\"label\":\"Footprint\",\"ok\":false,\"surface\":\"footprint\"}");
  EXPECT_EQ(sink_.toasts().back(), "Footprint is queued behind other Fusion work - waiting for it to finish");
  EXPECT_EQ(clock_.elapsed() - start, 10 + 30 + 2);
  EXPECT_EQ(clones().size(), 1u);

  // "not running" asks for a ready box (at least 180 s) before the retry.
  shows_ = {json{{"success", false}, {"error", "Fusion is not running on Studio"}}};
  const int readiness_before = bridge_.count("fusion_readiness");
  EXPECT_EQ(show("footprint")["ok"], true);
  EXPECT_EQ(bridge_.count("fusion_readiness"), readiness_before + 1);
  EXPECT_EQ(clones().size(), 1u);
}

TEST_F(SurfacesTest, CapturesOfAtMost2000CharactersAreRetried) {
  show("symbol");
  captures_ = {json(""), json(std::string(2000, 'x')), json(std::string(2001, 'y'))};
  double start = clock_.elapsed();
  EXPECT_EQ(show("symbol")["image"], std::string(2001, 'y'));
  EXPECT_TRUE(logged("surface symbol capture 1 came back empty, retrying"));
  EXPECT_TRUE(logged("surface symbol capture 2 came back empty, retrying"));
  EXPECT_FALSE(logged("surface symbol capture 3 came back empty, retrying"));
  EXPECT_EQ(clock_.elapsed() - start, 10 + 3 * 10 + 2 * 4);

  captures_ = {json("a"), json(nullptr), json("short")};
  start = clock_.elapsed();
  const json reply = show("library");
  EXPECT_EQ(reply["image"], "short");
  EXPECT_EQ(reply["ok"], true);
  EXPECT_TRUE(logged("surface library capture 3 came back empty, retrying"));
  EXPECT_EQ(captures_taken(), 1 + 3 + 3);
  EXPECT_EQ(clock_.elapsed() - start, 10 + 3 * 10 + 3 * 4);

  // Characters, not bytes: 2001 two-byte characters are a picture.
  std::string wide;
  for (int i = 0; i < 2001; ++i) wide += "\xC3\xA9";
  captures_ = {json(wide)};
  EXPECT_EQ(show("symbol")["image"], wide);
}

TEST_F(SurfacesTest, TheRequestedPartFallsBackToTheDemoPartSetting) {
  EXPECT_EQ(requested_part(json{{"part", "tolm/x"}}, json{{"demoPart", "tolm/y"}}), "tolm/x");
  EXPECT_EQ(requested_part(json{{"part", 5}}, json{{"demoPart", "tolm/y"}}), "tolm/y");
  EXPECT_EQ(requested_part(json::object(), json{{"demoPart", nullptr}}), "tolm/in-s63btg");
  EXPECT_EQ(requested_part(json::array(), json::object()), "tolm/in-s63btg");
}

}  // namespace
}  // namespace loomdeck
