#include "tour/tts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "core/text.h"
#include "fakes.h"
#include "http/stream.h"
#include "tour/tts_cache.h"

namespace loomdeck {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// A whole MP3 of `count` frames (MPEG 2 layer III, 144 bytes each) filled with `fill`.
std::string clip(char fill, std::size_t count = 2) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += "\xFF\xF3\x64\xC4"s + std::string(140, fill);
  return out;
}

std::string repeat(std::string_view piece, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += piece;
  return out;
}

TEST(TtsDecode, PlusPercentAndLonePercent) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"hello+world", "hello world"},
      {"hello%20world", "hello world"},
      {"%4a%4A%6b", "JJk"},
      {"a%2Bb", "a+b"},
      {"100%", "100%"},
      {"%", "%"},
      {"%4", "%4"},
      {"%zz%4g", "%zz%4g"},
      {"%%41", "%A"},
      {"50%+off", "50% off"},
      {"%C3%A9t%C3%A9", "\xC3\xA9t\xC3\xA9"},
      {"it%E2%80%99s", "it\xE2\x80\x99s"},
      {"%FF%fe", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"raw\xC3(", "raw\xEF\xBF\xBD("},
      {"", ""},
  };
  for (const auto& [raw, text] : cases) EXPECT_EQ(decode_query_value(raw), text) << raw;
}

TEST(TtsDecode, FirstParameterStartingWithTextWins) {
  EXPECT_EQ(raw_query_param("text=a&text=b", "text"), "a");
  EXPECT_EQ(raw_query_param("voice=x&text=hi+there", "text"), "hi+there");
  EXPECT_EQ(raw_query_param("text=", "text"), "");
  EXPECT_FALSE(raw_query_param("mytext=1", "text"));
  EXPECT_FALSE(raw_query_param("text", "text"));
  EXPECT_FALSE(raw_query_param("", "text"));
  EXPECT_FALSE(raw_query_param("Text=a", "text"));
}

TEST(TtsText, LimitIsCountedInUtf8BytesAfterDecoding) {
  EXPECT_EQ(tts_text("text=" + std::string(1200, 'a')), std::string(1200, 'a'));
  EXPECT_FALSE(tts_text("text=" + std::string(1201, 'a')));
  EXPECT_EQ(tts_text("text=" + repeat("%C3%A9", 600))->size(), 1200u);
  EXPECT_FALSE(tts_text("text=" + repeat("%C3%A9", 601)));
  // Each invalid byte becomes a three-byte U+FFFD before the limit is applied.
  EXPECT_TRUE(tts_text("text=" + repeat("%FF", 400)));
  EXPECT_FALSE(tts_text("text=" + repeat("%FF", 401)));
  EXPECT_FALSE(tts_text("text="));
  EXPECT_FALSE(tts_text(""));
  EXPECT_FALSE(tts_text("target=box"));
  EXPECT_EQ(tts_text("text=+"), " ");
}

TEST(TtsCache, HashNamesAndDirectory) {
  EXPECT_EQ(tts_hash(""), 0x14650FB0739D0383ULL);
  const std::pair<std::string_view, std::string_view> names[] = {
      {"", "14650fb0739d0383.mp3"},
      {"a", "44bd8ad473cd9906.mp3"},
      {"hello world", "e1d7a701437f78f9.mp3"},
      {"\xE2\x80\x99", "810f764e9251d0b0.mp3"},
      {"100%", "efef89276e753c99.mp3"},
      {"era", "02248b511fb8cf33.mp3"},
  };
  for (const auto& [text, name] : names) EXPECT_EQ(tts_file_name(text), name) << text;

  EXPECT_EQ(tts_cache_dir("/sandbox/tmp", 1000), fs::path("/sandbox/tmp/loomdeck-tts-1000"));
  EXPECT_EQ(tts_cache_dir("/sandbox/tmp/", 0), fs::path("/sandbox/tmp/loomdeck-tts-0"));
  EXPECT_EQ(tts_cache_dir(nullptr, 7), fs::path("/tmp/loomdeck-tts-7"));
  EXPECT_EQ(tts_cache_dir("", 7), fs::path("/tmp/loomdeck-tts-7"));
}

TEST(TtsCache, TheToolGetsFourArgumentsAndTheTextNeverReadsAsAnOption) {
  const std::vector<std::pair<std::string, std::string>> texts = {{"hello world", "hello world"},
                                                                  {"--help", " --help"},
                                                                  {"-", " -"},
                                                                  {"-5 degrees", " -5 degrees"},
                                                                  {" -x", " -x"},
                                                                  {"a -b", "a -b"},
                                                                  {"\u2212"
                                                                   "1",
                                                                   "\u2212"
                                                                   "1"}};
  for (const auto& [text, spoken] : texts) {
    EXPECT_EQ(tts_command("/c/x.mp3", text), (std::vector<std::string>{"ovra-tts", "say", "--out", "/c/x.mp3", spoken}))
        << text;
  }
}

class TtsServe : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "loomdeck-tts-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    cache_ = root_ / "nested" / "loomdeck-tts";
  }
  void TearDown() override { fs::remove_all(root_); }

  // ovra-tts that writes `bytes` to its --out path (nothing at all when `bytes` is absent).
  void tts_writes(std::optional<std::string> bytes) {
    runner_.on("ovra-tts", [bytes](const std::vector<std::string>& argv, const ProcessOptions&) {
      ProcessResult r;
      r.started = true;
      r.exit_code = 0;
      if (bytes && argv.size() > 3) std::ofstream(argv[3], std::ios::binary) << *bytes;
      return r;
    });
  }
  std::string get(std::string_view query) {
    StringStream stream;
    serve_tts(stream, runner_, flights_, query, cache_, ::geteuid());
    return stream.data;
  }
  std::set<std::string> cache_files() {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(cache_, ec)) names.insert(entry.path().filename().string());
    return names;
  }
  static std::string reply(std::string_view content_type, std::string_view body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(content_type) +
           "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nAccess-Control-Allow-Origin: *\r\nConnection: close\r\n\r\n" + std::string(body);
  }

  fs::path root_, cache_;
  FakeRunner runner_;
  FakeClock clock_;
  TtsFlights flights_{clock_, kTtsMaxRunning, kTtsSlotWait};
};

const std::string kRequired = R"json({"ok":false,"why":"text required (<=1200 chars)"})json";
const std::string kFailed =
    R"json({"ok":false,"why":"ovra-tts synthesis failed (is ovra-tts installed and the tts service reachable?)"})json";

TEST_F(TtsServe, SynthesisesOnceAndServesTheCacheAfterwards) {
  tts_writes(clip('h'));
  EXPECT_EQ(get("text=hello+world"), reply("audio/mpeg", clip('h')));
  ASSERT_EQ(runner_.calls.size(), 1u);
  const std::vector<std::string>& argv = runner_.calls[0];
  ASSERT_EQ(argv.size(), 5u);
  EXPECT_EQ(argv[0], "ovra-tts");
  EXPECT_EQ(argv[1], "say");
  EXPECT_EQ(argv[2], "--out");
  EXPECT_EQ(fs::path(argv[3]).parent_path(), cache_);
  EXPECT_EQ(argv[4], "hello world");
  EXPECT_EQ(cache_files(), std::set<std::string>{"e1d7a701437f78f9.mp3"});

  EXPECT_EQ(get("text=hello%20world"), reply("audio/mpeg", clip('h')));
  EXPECT_EQ(runner_.calls.size(), 1u);
}

TEST_F(TtsServe, RefusedTextsNeverRunTheTool) {
  tts_writes(clip('a'));
  for (const std::string& q : std::vector<std::string>{"", "text=", "voice=a", "text=" + std::string(1201, 'x')}) {
    EXPECT_EQ(get(q), reply("application/json", kRequired)) << q;
  }
  EXPECT_TRUE(runner_.calls.empty());
}

TEST_F(TtsServe, AFailedSynthesisIsNotCached) {
  // The tool is missing.
  EXPECT_EQ(get("text=hi"), reply("application/json", kFailed));
  EXPECT_EQ(cache_files(), std::set<std::string>{});
  // It runs but leaves an empty file.
  tts_writes("");
  EXPECT_EQ(get("text=hi"), reply("application/json", kFailed));
  EXPECT_EQ(cache_files(), std::set<std::string>{});
  // It writes something that is no MP3.
  tts_writes("not audio");
  EXPECT_EQ(get("text=hi"), reply("application/json", kFailed));
  EXPECT_EQ(cache_files(), std::set<std::string>{});
  // Once it works, the same text is synthesised again and then cached.
  tts_writes(clip('a'));
  EXPECT_EQ(get("text=hi"), reply("audio/mpeg", clip('a')));
  EXPECT_EQ(get("text=hi"), reply("audio/mpeg", clip('a')));
  EXPECT_EQ(runner_.calls.size(), 4u);
}

TEST_F(TtsServe, WholeCacheFilesAreServedAndEmptyOrCutOnesReplaced) {
  fs::create_directories(cache_);
  fs::permissions(cache_, fs::perms::owner_all);
  std::ofstream(cache_ / tts_file_name("a"), std::ios::binary) << clip('k');
  std::ofstream(cache_ / tts_file_name("100%"), std::ios::binary) << "";
  std::ofstream(cache_ / tts_file_name("cut"), std::ios::binary) << clip('c', 3).substr(0, 300);
  tts_writes(clip('f'));
  EXPECT_EQ(get("text=a"), reply("audio/mpeg", clip('k')));
  EXPECT_TRUE(runner_.calls.empty());
  EXPECT_EQ(get("text=100%"), reply("audio/mpeg", clip('f')));
  ASSERT_EQ(runner_.calls.size(), 1u);
  EXPECT_EQ(runner_.calls[0][4], "100%");

  // A cut clip is removed, even when synthesis fails; a new one takes its place once it works.
  tts_writes(std::nullopt);
  EXPECT_EQ(get("text=cut"), reply("application/json", kFailed));
  EXPECT_FALSE(fs::exists(cache_ / tts_file_name("cut")));
  tts_writes(clip('f'));
  EXPECT_EQ(get("text=cut"), reply("audio/mpeg", clip('f')));
  EXPECT_EQ(runner_.calls.size(), 3u);
}

TEST_F(TtsServe, OneSynthesisPerTextAndTwoAtOnceTheRestWaitThirtySecondsOnTheClock) {
  Gate gate;
  std::atomic<int> started{0};
  runner_.on("ovra-tts", [&](const std::vector<std::string>& argv, const ProcessOptions&) {
    ++started;
    gate.wait();
    std::ofstream(argv[3], std::ios::binary) << clip(argv[4][0]);
    ProcessResult r;
    r.started = true;
    r.exit_code = 0;
    return r;
  });
  std::string replies[3];
  std::vector<std::thread> callers;
  callers.emplace_back([&] { replies[0] = get("text=a"); });
  callers.emplace_back([&] { replies[1] = get("text=b"); });
  wait_until([&] { return started == 2; });
  callers.emplace_back([&] { replies[2] = get("text=a"); });
  wait_until([&] { return flights_.waiting() == 1; });

  // A third text finds both slots busy and gives up after 30 s of the clock.
  const std::string busy =
      R"json({"ok":false,"why":"speech is busy with 2 other texts; try again in a few seconds"})json";
  EXPECT_EQ(get("text=c"), reply("application/json", busy));
  EXPECT_EQ(clock_.elapsed(), 30.0);

  gate.open();
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(replies[0], reply("audio/mpeg", clip('a')));
  EXPECT_EQ(replies[1], reply("audio/mpeg", clip('b')));
  EXPECT_EQ(replies[2], reply("audio/mpeg", clip('a')));
  EXPECT_EQ(started, 2);
  EXPECT_EQ(get("text=c"), reply("audio/mpeg", clip('c')));
}

TEST_F(TtsServe, ATextLikeAnOptionIsSpokenAfterASpaceAndCachedUnderItsOwnName) {
  tts_writes(clip('a'));
  EXPECT_EQ(get("text=--out+%2Fetc%2Fpasswd"), reply("audio/mpeg", clip('a')));
  ASSERT_EQ(runner_.calls.size(), 1u);
  EXPECT_EQ(runner_.calls[0].size(), 5u);
  EXPECT_EQ(runner_.calls[0][4], " --out /etc/passwd");
  EXPECT_EQ(cache_files(), std::set<std::string>{tts_file_name("--out /etc/passwd")});
}

TEST_F(TtsServe, TheCacheIsAPrivateFolderAndNeverFollowsALink) {
  tts_writes(clip('f'));
  EXPECT_EQ(get("text=a"), reply("audio/mpeg", clip('f')));
  EXPECT_EQ(fs::status(cache_).permissions(), fs::perms::owner_all);

  // A link planted where a cache file would be is not served, and synthesis replaces it.
  fs::create_symlink("/etc/hostname", cache_ / tts_file_name("b"));
  EXPECT_EQ(get("text=b"), reply("audio/mpeg", clip('f')));
  EXPECT_FALSE(fs::is_symlink(cache_ / tts_file_name("b")));

  // A folder another user owns, or one others may write to, is not used at all.
  StringStream foreign;
  serve_tts(foreign, runner_, flights_, "text=a", cache_, ::geteuid() + 1);
  EXPECT_NE(foreign.data.find("belongs to another user"), std::string::npos) << foreign.data;
  fs::permissions(cache_, fs::perms::others_write, fs::perm_options::add);
  EXPECT_NE(get("text=a").find("is open to other users"), std::string::npos);
  fs::remove_all(cache_);
  fs::create_symlink(root_, cache_);
  EXPECT_NE(get("text=a").find("is a symbolic link"), std::string::npos);
  EXPECT_EQ(runner_.calls.size(), 2u);
}

TEST_F(TtsServe, PruningRemovesTheOldestFilesFirstAndKeepsTheNewOne) {
  fs::create_directories(cache_);
  const auto put = [&](const std::string& text, std::size_t bytes, int age_hours) {
    const fs::path p = cache_ / tts_file_name(text);
    std::ofstream(p, std::ios::binary) << std::string(bytes, 'x');
    fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::hours(age_hours));
    return p;
  };
  put("oldest", 40, 30);
  put("middle", 40, 20);
  const fs::path young = put("young", 40, 10);
  const fs::path fresh = put("fresh but huge", 90, 40);  // just made, though its clock says otherwise
  std::ofstream(cache_ / "notes.txt") << std::string(500, 'n');
  prune_cache(cache_, 150, fresh);
  EXPECT_EQ(cache_files(),
            (std::set<std::string>{tts_file_name("fresh but huge"), young.filename().string(), "notes.txt"}));
}

}  // namespace
}  // namespace loomdeck
