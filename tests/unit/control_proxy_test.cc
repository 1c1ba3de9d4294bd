#include "workspace/control_proxy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fakes.h"
#include "workspace/control_address.h"

namespace loomdeck {
namespace {

const char kThreads503[] =
    R"({"ok":false,"proxied":true,"why":"Ovra Brindle is not reachable from this workspace (~/.ovra/brindle-control-url missing). The route EXISTS - 503 means vo is absent, not unwired."})";
const char kUpdater503[] =
    R"({"ok":false,"proxied":true,"why":"Ovra Brindle is not reachable from this workspace (~/.ovra/brindle-control-url missing), so the panel cannot check the version or send. The route EXISTS - a 503 here means vo is absent, not that the proxy was never wired."})";

TEST(ControlAddress, TrimsWhiteSpaceAndEveryTrailingSlash) {
  EXPECT_EQ(control_base_from_text("http://127.0.0.1:7300/ \n"), "http://127.0.0.1:7300");
  EXPECT_EQ(control_base_from_text("\t http://vo.local/api/// \r\n"), "http://vo.local/api");
  EXPECT_EQ(control_base_from_text("http://vo.local"), "http://vo.local");
}

TEST(ControlAddress, NothingUsableMeansNoBase) {
  EXPECT_FALSE(control_base_from_text(""));
  EXPECT_FALSE(control_base_from_text(" \n"));
  EXPECT_FALSE(control_base_from_text("///\n"));
  EXPECT_FALSE(control_base_from_text("http://vo.local/\xff"));
  EXPECT_FALSE(control_base_from_text("--config /etc/passwd"));
}

TEST(PromptBody, TypeDroppedAndTagAppendedOnce) {
  EXPECT_EQ(tag_prompt_body(json::parse(R"({"prompt":"hi","type":"chat","tags":["newbie"]})")),
            json::parse(R"({"prompt":"hi","tags":["newbie","app:ovra/gantry"]})"));
  EXPECT_EQ(tag_prompt_body(json::parse(R"({"prompt":"hi","tags":["app:ovra/gantry",1,null]})")),
            json::parse(R"({"prompt":"hi","tags":["app:ovra/gantry",1,null]})"));
  EXPECT_EQ(tag_prompt_body(json::parse(R"({"prompt":"hi","tags":"newbie"})")),
            json::parse(R"({"prompt":"hi","tags":["app:ovra/gantry"]})"));
  EXPECT_EQ(tag_prompt_body(json::object()), json::parse(R"({"tags":["app:ovra/gantry"]})"));
}

TEST(PromptBody, BodiesThatAreNotObjectsPassUnchanged) {
  for (const char* text : {R"([1,{"type":2}])", R"("prompt")", "3", "null"}) {
    EXPECT_EQ(tag_prompt_body(json::parse(text)), json::parse(text));
  }
}

TEST(ProxyCommands, ArgumentVectorsAndTimeLimits) {
  EXPECT_EQ(run_prompt_command("http://vo", R"({"a":1})"),
            (std::vector<std::string>{"curl", "-s", "-m", "120", "-X", "POST", "-H", "Content-Type: application/json",
                                      "-d", R"({"a":1})", "http://vo/ai-threads/run-prompt"}));
  EXPECT_EQ(prompt_status_command("http://vo", "job=abc&x=%20"),
            (std::vector<std::string>{"curl", "--globoff", "-s", "-m", "8",
                                      "http://vo/ai-threads/run-prompt/status?job=abc&x=%20"}));
  // Globs stay literal; what a URL cannot carry is escaped rather than cut or mangled.
  EXPECT_EQ(prompt_status_command("http://vo", "job=[1-100000000]{a,b}#x\x01\xC3\xA9"),
            (std::vector<std::string>{"curl", "--globoff", "-s", "-m", "8",
                                      "http://vo/ai-threads/run-prompt/status?job=[1-100000000]{a,b}%23x%01%C3%A9"}));
  EXPECT_EQ(prompt_status_command("http://vo", ""),
            (std::vector<std::string>{"curl", "-s", "-m", "8", "http://vo/ai-threads/run-prompt/status"}));
  EXPECT_EQ(updater_status_command("http://vo"),
            (std::vector<std::string>{"curl", "-s", "-m", "8", "http://vo/updater/status"}));
}

TEST(ProxyReplies, NoBaseAnswers503WithoutRunningCurl) {
  FakeRunner runner;
  ProxyReply r = proxy_run_prompt(runner, std::nullopt, json::object());
  EXPECT_EQ(r.status, "503 Service Unavailable");
  EXPECT_EQ(r.body, kThreads503);
  r = proxy_prompt_status(runner, std::nullopt, "job=1");
  EXPECT_EQ(r.status, "503 Service Unavailable");
  EXPECT_EQ(r.body, kThreads503);
  r = proxy_updater_status(runner, std::nullopt);
  EXPECT_EQ(r.status, "503 Service Unavailable");
  EXPECT_EQ(r.body, kUpdater503);
  EXPECT_TRUE(runner.calls.empty());
}

TEST(ProxyReplies, UpstreamOutputPassesThroughByteForByte) {
  FakeRunner runner;
  const std::string upstream = "{ \"z\": 1, \"a\": \"\xff\" }\n";
  runner.prints("curl", upstream, 22);
  const std::string base = "http://vo";
  ProxyReply r = proxy_run_prompt(runner, base, json::parse(R"({"type":"x","prompt":"p\u00e9"})"));
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.body, upstream);
  EXPECT_EQ(runner.calls[0][9], "{\"prompt\":\"p\xC3\xA9\",\"tags\":[\"app:ovra/gantry\"]}");
  EXPECT_EQ(proxy_prompt_status(runner, base, "").body, upstream);
  EXPECT_EQ(proxy_updater_status(runner, base).body, upstream);
}

TEST(ProxyReplies, SilenceOrNoCurlMeansDidNotAnswer) {
  FakeRunner runner;
  const std::string base = "http://vo";
  ProxyReply r = proxy_run_prompt(runner, base, json::object());
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.body, R"({"ok":false,"why":"control API did not answer run-prompt within 120s"})");
  runner.prints("curl", "", 28);
  EXPECT_EQ(proxy_prompt_status(runner, base, "job=1").body,
            R"({"ok":false,"why":"control API did not answer run-prompt/status"})");
  EXPECT_EQ(proxy_updater_status(runner, base).body,
            R"({"ok":false,"why":"control API did not answer /updater/status"})");
}

TEST(ProxyReplies, BodyTooLongForTheCommandLineGoesThroughAPrivateFileRemovedAfterwards) {
  FakeRunner runner;
  const json body = {{"prompt", std::string(300000, 'x')}};
  std::string sent, file;
  runner.on("curl", [&](const std::vector<std::string>& argv, const ProcessOptions&) {
    file = argv.at(argv.size() - 2).substr(1);
    std::ifstream in(file, std::ios::binary);
    sent.assign(std::istreambuf_iterator<char>(in), {});
    return exited(0, R"({"ok":true})");
  });
  const ProxyReply r = proxy_run_prompt(runner, std::string("http://vo"), body);
  EXPECT_EQ(r.body, R"({"ok":true})");
  ASSERT_EQ(runner.calls.size(), 1u);
  for (const std::string& arg : runner.calls[0]) EXPECT_LT(arg.size(), kArgumentLimit);
  EXPECT_EQ(runner.calls[0], run_prompt_file_command("http://vo", file));
  EXPECT_EQ(sent, dump_compact(tag_prompt_body(body)));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(file).parent_path()));
}

}  // namespace
}  // namespace loomdeck
