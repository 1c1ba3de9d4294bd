#include "parts/part_import.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "actions/dispatcher.h"
#include "part_services.h"
#include "parts/wiki_files.h"
#include "wiki_fake.h"

namespace loomdeck {
namespace {

namespace fs = std::filesystem;

const std::string kHint =
    "Wiki part -> Fusion Library Manager, all background. Next steps an AI can run: fusion_show_symbol / "
    "fusion_show_footprint {name}, fusion_bind_library_3d for the 3D, fusion_make_test_project for a solo demo board. "
    "Render any of them with fusion_state.";

class PartImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    install_wiki(runner_, {{"tolm/in-s42ata", {"IN-S42ATA.step", "IN-S42ATA.lbr"}},
                           {"tolm/shout-case", {"SHOUT-CASE.LBR", "SHOUT-CASE.STP"}},
                           {"tolm/odd", {"\xff\xfe.lbr", "good.lbr"}}});
    bridge_.answer("fusion_readiness", json::parse(R"({"data":{"ready":true}})"));
    bridge_.answer("send_files", json::parse(R"({"ok":true,"data":{"success":true,"sent":[{"to":"x"}]}})"));
    bridge_.answer("fusion_open_lbr", json::parse(R"({"ok":true,"data":{"success":true,"opened":"y"}})"));
    svc_.run_in_background = [](std::function<void()>) {};
  }
  json import(const std::string& args = "null") {
    return run_action(svc_.actions, ActionRequest{"import_basic_part", "Studio", args});
  }

  FakeClock clock_;
  FakeRunner runner_;
  ScriptedBridge bridge_;
  RecordingSink sink_;
  PartServices svc_{clock_, runner_, bridge_, sink_};
};

TEST_F(PartImportTest, ImportsTheDefaultPageSendingOnlyItsLibrary) {
  const json reply = import();
  EXPECT_EQ(dump_compact(reply), "{\"_hint\":\"" + kHint +
                                     "\",\"opened\":{\"opened\":\"y\",\"success\":true},\"page\":\"tolm/in-s42ata\","
                                     "\"sent\":{\"sent\":[{\"to\":\"x\"}],\"success\":true}}");
  ASSERT_EQ(runner_.calls.size(), 1u);
  // A private folder of this import's own, gone once the library was sent.
  const std::string dir = runner_.calls[0].at(4);
  EXPECT_EQ(dir.rfind((fs::temp_directory_path() / "loomdeck-part-").string(), 0), 0u) << dir;
  EXPECT_FALSE(fs::exists(dir));
  EXPECT_EQ(runner_.calls[0], (std::vector<std::string>{"ovra-wiki", "clone", "tolm/in-s42ata", "--dir", dir}));
  const auto calls = bridge_.calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].tool, "fusion_readiness");
  EXPECT_EQ(calls[1].tool, "send_files");
  EXPECT_EQ(calls[1].args,
            "{\"dest\":\"C:/Users/pell/AppData/Local/Temp/loomdeck\",\"filePaths\":[\"" + dir + "/IN-S42ATA.lbr\"]}");
  EXPECT_EQ(calls[2].tool, "fusion_open_lbr");
  EXPECT_EQ(calls[2].args, "{\"filePath\":\"C:/Users/pell/AppData/Local/Temp/loomdeck/IN-S42ATA.lbr\"}");
  EXPECT_EQ(calls[2].attribution, "t7");
  EXPECT_EQ(calls[2].box, "Studio");
  EXPECT_FALSE(svc_.parts.staged_parts.contains("Studio|tolm/in-s42ata"));
  EXPECT_EQ(clock_.elapsed(), 0);
}

TEST_F(PartImportTest, ThePageComesFromArgsOrTheDefault) {
  EXPECT_EQ(import_page("null"), "tolm/in-s42ata");
  EXPECT_EQ(import_page("{}"), "tolm/in-s42ata");
  EXPECT_EQ(import_page("[\"tolm/x\"]"), "tolm/in-s42ata");
  EXPECT_EQ(import_page("{\"page\":7}"), "tolm/in-s42ata");
  EXPECT_EQ(import_page("{\"page\":\"tolm/shout-case\"}"), "tolm/shout-case");
  EXPECT_EQ(import_page(""), "tolm/in-s42ata");
}

TEST_F(PartImportTest, FailureAnswersCarryTheirExactTexts) {
  const std::string no_lbr_hint = "\"_hint\":\"Pick an ovra basic part page (it publishes <PART>.lbr + <PART>.step).\"";
  // The extension test is case-sensitive.
  EXPECT_EQ(dump_compact(import("{\"page\":\"tolm/shout-case\"}")),
            "{" + no_lbr_hint + ",\"error\":\"tolm/shout-case has no .lbr file\"}");
  EXPECT_EQ(dump_compact(import("{\"page\":\"tolm/missing\"}")),
            "{" + no_lbr_hint + ",\"error\":\"tolm/missing has no .lbr file\"}");
  // A page that would read as an option never reaches ovra-wiki.
  EXPECT_EQ(dump_compact(import("{\"page\":\"--dir=/etc\"}")),
            "{" + no_lbr_hint + ",\"error\":\"--dir=/etc has no .lbr file\"}");
  EXPECT_EQ(runner_.calls.size(), 2u);
  EXPECT_EQ(bridge_.count("send_files"), 0);
  // One the kernel would refuse as an argument is refused here, by its length, not as a missing tool.
  EXPECT_EQ(dump_compact(import(dump_compact(json{{"page", std::string(200000, 'p')}}))),
            "{\"_hint\":\"Wiki page names are short (owner/slug, as in the wiki's address); check the name that was "
            "sent.\",\"error\":\"the wiki page name is 200000 bytes; ovra-wiki takes at most 131072 on its command "
            "line\"}");
  EXPECT_EQ(runner_.calls.size(), 2u);

  FakeRunner no_wiki;
  PartServices bare(clock_, no_wiki, bridge_, sink_);
  EXPECT_EQ(dump_compact(import_basic_part(bare.parts, "Studio", "null")),
            "{\"_hint\":\"The container ships ovra-wiki; check PATH.\",\"error\":\"ovra-wiki CLI missing\"}");
  FakeRunner hung_wiki;
  hung_wiki.on("ovra-wiki", [](const std::vector<std::string>&, const ProcessOptions&) { return stopped_at_limit(); });
  PartServices slow(clock_, hung_wiki, bridge_, sink_);
  EXPECT_EQ(import_basic_part(slow.parts, "Studio", R"({"page":"tolm/x"})").at("error"),
            "ovra-wiki did not finish cloning tolm/x within 5 minutes");

  bridge_.answer("fusion_readiness", json::parse(R"({"data":{"ready":false,"running":false}})"));
  bridge_.answer("fusion_state", json::object());
  EXPECT_EQ(dump_compact(import()),
            "{\"_hint\":\"Open Settings and read the status cards - a sign-in wall or a stuck launch is reported "
            "there.\",\"error\":\"Fusion did not become ready on Studio within its measured launch budget\","
            "\"success\":false}");
  EXPECT_EQ(runner_.calls.size(), 2u);
}

TEST_F(PartImportTest, NamesThatAreNotTextAreSkipped) {
  EXPECT_EQ(first_library_file({"a.LBR", "\xff.lbr", "C:x.lbr", "a\\b.lbr", "caf\xC3\xA9.lbr", "b.lbr", "c.lbr"}),
            "b.lbr");
  EXPECT_EQ(first_library_file({"lbr", ".lbr", "x.lbr.step"}), std::nullopt);
  EXPECT_EQ(import("{\"page\":\"tolm/odd\"}")["page"], "tolm/odd");
  EXPECT_NE(bridge_.calls()[1].args.find("/good.lbr\"]"), std::string::npos);
}

TEST_F(PartImportTest, AHungCloneHoldsUpNoOtherImport) {
  // The first clone does not return until the second import has answered: with one folder and
  // one lock for all imports, the second would wait for the first.
  std::promise<void> second_done;
  std::shared_future<void> released = second_done.get_future().share();
  std::atomic<bool> slow_started{false};
  std::atomic<bool> waited_out{false};
  runner_.on("ovra-wiki", [&](const std::vector<std::string>& argv, const ProcessOptions&) {
    const bool slow = argv[2] == "tolm/slow";
    if (slow) {
      slow_started = true;
      waited_out = released.wait_for(std::chrono::seconds(60)) != std::future_status::ready;
    }
    fs::create_directories(argv[4]);
    std::ofstream(fs::path(argv[4]) / (slow ? "SLOW.lbr" : "FAST.lbr")) << "<eagle/>";
    ProcessResult r;
    r.started = true;
    r.exit_code = 0;
    return r;
  });
  std::thread slow([this] { import("{\"page\":\"tolm/slow\"}"); });
  while (!slow_started) std::this_thread::yield();
  EXPECT_EQ(import("{\"page\":\"tolm/fast\"}")["page"], "tolm/fast");
  second_done.set_value();
  slow.join();
  EXPECT_FALSE(waited_out);
  std::vector<std::string> sent;
  for (const BridgeCall& c : bridge_.calls()) {
    if (c.tool == "send_files") sent.push_back(c.args);
  }
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_NE(sent[0].find("/FAST.lbr\"]"), std::string::npos);
  EXPECT_NE(sent[1].find("/SLOW.lbr\"]"), std::string::npos);
}

TEST_F(PartImportTest, ABusyMainThreadIsRetriedTenTimes15SecondsApart) {
  int n = 0;
  bridge_.on("fusion_open_lbr", [&n](const std::string&, const std::string&) {
    ++n;
    return json{{"ok", false},
                {"error", "main thread busy"},
                {"data", {{"success", false}, {"errorCode", "main_thread_busy"}, {"attempt", n}}}};
  });
  const json reply = import();
  EXPECT_EQ(bridge_.count("fusion_open_lbr"), 11);
  EXPECT_EQ(clock_.elapsed(), 150);
  EXPECT_EQ(reply["opened"], (json{{"success", false}, {"errorCode", "main_thread_busy"}, {"attempt", 11}}));
  EXPECT_EQ(reply["_hint"], kHint);

  // The busy sign may also be the error text; the first answer that is not busy ends the retries.
  n = 0;
  bridge_.on("fusion_open_lbr", [&n](const std::string&, const std::string&) {
    return ++n == 1 ? json{{"success", false}, {"error", "fusion_mcp_enable is IN PROGRESS FROM ANOTHER caller"}}
                    : json{{"success", false}, {"error", "library is corrupt"}};
  });
  const double start = clock_.elapsed();
  EXPECT_EQ(import()["opened"], (json{{"success", false}, {"error", "library is corrupt"}}));
  EXPECT_EQ(n, 2);
  EXPECT_EQ(clock_.elapsed() - start, 15);
}

}  // namespace
}  // namespace loomdeck
