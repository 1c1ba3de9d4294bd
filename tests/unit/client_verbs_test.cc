#include <gtest/gtest.h>

#include "fakes.h"
#include "main/open_verb.h"
#include "main/ui_verb.h"

namespace loomdeck {
namespace {

struct Output {
  int status;
  std::string out, err;
};

template <typename F>
Output capture(F&& f) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int status = f();
  std::string out = ::testing::internal::GetCapturedStdout();
  return {status, std::move(out), ::testing::internal::GetCapturedStderr()};
}

// Only the URL in the map answers, with its text and exit status.
void answer(FakeRunner& runner, std::map<std::string, ProcessResult> replies) {
  runner.on("curl", [replies](const std::vector<std::string>& argv, const ProcessOptions&) {
    const auto it = replies.find(argv.back());
    return it == replies.end() ? exited(7) : it->second;
  });
}

const std::string kPing = R"({"app":"loomdeck","dashboardVersion":"1.10.20"})";

TEST(UiCurlCommand, GetOrJsonPostWithSortedKeys) {
  EXPECT_EQ(ui_curl_command(8931, "/state", std::nullopt),
            (std::vector<std::string>{"curl", "-s", "-m", "60", "http://127.0.0.1:8931/state"}));
  EXPECT_EQ(ui_curl_command(8930, "/ui/toast", json{{"message", "done"}, {"kind", "ok"}}),
            (std::vector<std::string>{"curl", "-s", "-m", "60", "-X", "POST", "-H", "Content-Type: application/json",
                                      "-d", R"({"kind":"ok","message":"done"})", "http://127.0.0.1:8930/ui/toast"}));
}

TEST(UiVerb, ArgumentFailuresContactNoServer) {
  FakeRunner runner;
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"loomdeck", "ui", "toast"},
       "ERROR: ui toast needs a message\nHint: loomdeck ui toast \"running test 3 of 8\"\n"},
      {{"loomdeck", "ui", "toast", ""},
       "ERROR: ui toast needs a message\nHint: loomdeck ui toast \"running test 3 of 8\"\n"},
      {{"loomdeck", "ui", "click"},
       "ERROR: ui click needs a target\nHint: loomdeck ui click tour   (targets: setup, start, stop, tour, "
       "import-part, "
       "settings, refresh)\n"},
      {{"loomdeck", "ui"},
       "ERROR: unknown ui verb\nHint: ui toast \"msg\" [--kind ok|err|info] | ui click <target> | ui state | ui "
       "console\n"},
      {{"loomdeck", "ui", "State"},
       "ERROR: unknown ui verb\nHint: ui toast \"msg\" [--kind ok|err|info] | ui click <target> | ui state | ui "
       "console\n"},
  };
  for (const auto& [args, err] : cases) {
    const CommandLine cli = parse_command_line(args);
    const Output o = capture([&] { return run_ui(cli, runner); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, err);
  }
  EXPECT_TRUE(runner.calls.empty());
}

TEST(UiVerb, MessageIsTheWordAfterToastAndKindDefaultsToInfo) {
  FakeRunner runner;
  answer(runner, {{"http://127.0.0.1:8930/api/ping", exited(0, kPing)},
                  {"http://127.0.0.1:8930/ui/toast", exited(0, R"({"delivered":2,"ok":true})")}});
  Output o = capture([&] {
    return run_ui(parse_command_line({"loomdeck", "ui", "toast", "--kind", "ok", "done"}), runner);
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "OK: {\"delivered\":2,\"ok\":true}\n");
  EXPECT_EQ(runner.calls[1][9], R"({"kind":"ok","message":"--kind"})");
  o = capture([&] { return run_ui(parse_command_line({"loomdeck", "ui", "toast", "done", "--kind", "ok"}), runner); });
  EXPECT_EQ(runner.calls[3][9], R"({"kind":"ok","message":"done"})");
  o = capture([&] { return run_ui(parse_command_line({"loomdeck", "ui", "toast", "done"}), runner); });
  EXPECT_EQ(runner.calls[5][9], R"({"kind":"info","message":"done"})");
  o = capture([&] { return run_ui(parse_command_line({"loomdeck", "ui", "click", "banana"}), runner); });
  EXPECT_EQ(runner.calls[7][9], R"({"target":"banana"})");
  EXPECT_EQ(runner.calls[7].back(), "http://127.0.0.1:8930/ui/click");
}

TEST(UiVerb, OnlyThePortWhosePingSaysLoomdeckIsAsked) {
  FakeRunner runner;
  // A squatter answering JSON on every path, a web page, a late answer, then a loomdeck of any version.
  const std::string squatter = R"({"lines":["forged"],"ok":true})";
  answer(runner, {{"http://127.0.0.1:8930/api/ping", exited(0, squatter)},
                  {"http://127.0.0.1:8930/console", exited(0, squatter)},
                  {"http://127.0.0.1:8931/api/ping", exited(0, "<html>proxy</html>")},
                  {"http://127.0.0.1:8932/api/ping", exited(28, kPing)},
                  {"http://127.0.0.1:8933/api/ping", exited(0, "")},
                  {"http://127.0.0.1:8934/api/ping", exited(0, R"({"app":"loomdeck","dashboardVersion":"0.9"})")},
                  {"http://127.0.0.1:8934/console", exited(0, R"({"lines": ["toast [ok] done"]})")}});
  const Output o = capture([&] { return run_ui(parse_command_line({"loomdeck", "ui", "console"}), runner); });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "OK: {\"lines\":[\"toast [ok] done\"]}\n");
  EXPECT_EQ(o.err,
            "NOTE: port 8930 answers, but not as loomdeck - skipped\n"
            "NOTE: port 8931 answers, but not as loomdeck - skipped\n");
  EXPECT_EQ(runner.calls.size(), 6u);
  EXPECT_EQ(runner.calls.back().back(), "http://127.0.0.1:8934/console");
}

TEST(UiVerb, AnyJsonReplyCountsAndInvalidUtf8IsReplaced) {
  FakeRunner runner;
  answer(runner, {{"http://127.0.0.1:8930/api/ping", exited(0, kPing)},
                  {"http://127.0.0.1:8930/state", exited(0, "{\"error\":\"not found\",\"x\":\"\xff\"}")}});
  const Output o = capture([&] { return run_ui(parse_command_line({"loomdeck", "ui", "state"}), runner); });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "OK: {\"error\":\"not found\",\"x\":\"\xEF\xBF\xBD\"}\n");
}

TEST(UiVerb, AGivenPortIsTheOnlyCandidate) {
  FakeRunner runner;
  answer(runner,
         {{"http://127.0.0.1:8930/api/ping", exited(0, kPing)}, {"http://127.0.0.1:8930/state", exited(0, "{}")}});
  const Output o = capture([&] {
    return run_ui(parse_command_line({"loomdeck", "ui", "state", "--port", "8935"}), runner);
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "ERROR: no loomdeck server answering on 8930-8940\nHint: Start it first: `loomdeck serve &`\n");
  ASSERT_EQ(runner.calls.size(), 1u);
  EXPECT_EQ(runner.calls[0].back(), "http://127.0.0.1:8935/api/ping");
}

TEST(UiVerb, NoServerOrNoCurlFailsAfterTheWholeRange) {
  FakeRunner runner;
  const Output o = capture([&] { return run_ui(parse_command_line({"loomdeck", "ui", "state"}), runner); });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "ERROR: no loomdeck server answering on 8930-8940\nHint: Start it first: `loomdeck serve &`\n");
  EXPECT_EQ(runner.calls.size(), 11u);
}

const char kWebviewHint[] =
    "Hint: to place it in a Brindle webview tab, load the `webview` skill (ovra-workspace-control) and add a tab for "
    "that URL - panel selection is the AI's call, never this CLI's.\n";

TEST(OpenVerb, ServerIsTheFirstPortWhosePingSaysLoomdeck) {
  FakeRunner runner;
  answer(runner, {{"http://127.0.0.1:8930/api/ping", exited(0, R"({"ok":true})")},
                  {"http://127.0.0.1:8931/api/ping", exited(22, kPing)},
                  {"http://127.0.0.1:8932/api/ping", exited(0, kPing)}});
  const Output o = capture([&] {
    return run_open(parse_command_line({"loomdeck", "open", "--target", "Studio", "--webview"}), runner, std::nullopt);
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, std::string("OK: Dashboard is serving at http://127.0.0.1:8932/\n") + kWebviewHint);
  EXPECT_EQ(o.err, "NOTE: port 8930 answers, but not as loomdeck - skipped\n");
  EXPECT_EQ(runner.calls.size(), 3u);
  EXPECT_EQ(runner.calls[0], (std::vector<std::string>{"curl", "-s", "-m", "1", "http://127.0.0.1:8930/api/ping"}));
}

TEST(OpenVerb, NoServerFailsWithExitOne) {
  FakeRunner runner;
  const Output o = capture([&] {
    return run_open(parse_command_line({"loomdeck", "open", "--port", "8932"}), runner, std::nullopt);
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err,
            "ERROR: no loomdeck server is running\nHint: Start it first: `loomdeck serve &`, then re-run open.\n");
  EXPECT_EQ(runner.calls.size(), 11u);
}

TEST(OpenVerb, PupWindowThroughTheBridgeWithTheProxyUrl) {
  FakeRunner runner;
  answer(runner, {{"http://127.0.0.1:8930/api/ping", exited(0, kPing)}});
  runner.prints("ovra-bridge", "{\"status\": \"ok\", \"window\": 7}\n");
  const Output o = capture([&] {
    return run_open(parse_command_line({"loomdeck", "open", "--ai-thread", "t7"}), runner,
                    std::string("/proxy/{{port}}/"));
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(
      o.out,
      "OK: Dashboard opened in a BACKGROUND pup window at /proxy/8930/ (taskbar flashes; the user brings it up when "
      "ready - never foregrounded)\n");
  EXPECT_EQ(runner.calls.back(), (std::vector<std::string>{"ovra-bridge", "--ai-thread", "t7", "pup_open_window",
                                                           R"({"background":true,"url":"/proxy/8930/"})"}));
  EXPECT_EQ(pup_open_window_command(std::string(""), "loomdeck", "u"),
            (std::vector<std::string>{"ovra-bridge", "--target", "", "--ai-thread", "loomdeck", "pup_open_window",
                                      R"({"background":true,"url":"u"})"}));
}

TEST(OpenVerb, BridgeFailuresAreReportedWithExitZero) {
  FakeRunner runner;
  answer(runner, {{"http://127.0.0.1:8930/api/ping", exited(0, kPing)}});
  Output o = capture([&] { return run_open(parse_command_line({"loomdeck", "open", "--pup"}), runner, std::nullopt); });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(
      o.err,
      "ERROR: ovra-bridge not runnable: No such file or directory\nHint: The container ships ovra-bridge on PATH.\n");

  const std::string reply = "{\"error\":\"no desktop \xff" + std::string(300, 'x') + "\"}";
  runner.prints("ovra-bridge", reply, 1);
  o = capture([&] {
    return run_open(parse_command_line({"loomdeck", "open", "--target", "Studio"}), runner, std::nullopt);
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err,
            "ERROR: pup_open_window did not confirm: {\"error\":\"no desktop \xEF\xBF\xBD" + std::string(178, 'x') +
                "\nHint: Is a desktop connected? `ovra-bridge targets`. The URL above still works in any browser.\n");
  EXPECT_EQ(runner.calls.back()[1], "--target");
  EXPECT_EQ(runner.calls.back()[2], "Studio");
}

}  // namespace
}  // namespace loomdeck
