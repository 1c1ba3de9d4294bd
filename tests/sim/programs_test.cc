#include <filesystem>

#include "png.h"
#include "sim_fixtures.h"
#include "store.h"
#include "tts.h"
#include "wiki.h"

namespace sim::testing {
namespace {

TEST(Wiki, CloneCopiesThePagesPublishedFiles) {
  TempDir dir;
  std::string out = dir.path + "/clone/deeper";
  RunResult r = wiki_command({"clone", "tolm/in-s63btg", "--dir", out}, wiki_fixtures_dir());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "cloned tolm/in-s63btg into " + out + " (3 files: IN-S63BTG.lbr, IN-S63BTG.step, README.md)\n");
  auto lbr = read_file(out + "/IN-S63BTG.lbr");
  ASSERT_TRUE(lbr);
  EXPECT_NE(lbr->find("<deviceset name=\"IN-S63BTG\""), std::string::npos);
  EXPECT_EQ(read_file(out + "/IN-S63BTG.step")->substr(0, 13), "ISO-10303-21;");
}

TEST(Wiki, RefusesUnknownPagesAndReferencesThatAreNotOwnerSlash) {
  TempDir dir;
  RunResult r = wiki_command({"clone", "tolm/nothing-here", "--dir", dir.path}, wiki_fixtures_dir());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "ovra-wiki: no published files for tolm/nothing-here (page not found)\n");
  for (const char* bad : {"../wiki", "tolm/../tolm/in-s63btg", "tolm", "/etc/passwd", "a/b/c", "tolm/-rf"})
    EXPECT_FALSE(valid_page_ref(bad)) << bad;
  EXPECT_TRUE(valid_page_ref("tolm/in-s42ata"));
  EXPECT_EQ(wiki_command({"clone", "tolm/in-s63btg"}, wiki_fixtures_dir()).exit_code, 2);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path));
}

TEST(Tts, WritesWholeSilentMpegFrames) {
  std::string frame = silent_mp3_frame();
  ASSERT_EQ(frame.size(), 144u);  // 72 * 48000 / 24000
  EXPECT_EQ(static_cast<unsigned char>(frame[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(frame[1]) & 0xFE, 0xF2);  // sync, MPEG-2, Layer III
  EXPECT_EQ(static_cast<unsigned char>(frame[2]) >> 4, 6);        // 48 kbit/s
  EXPECT_EQ((static_cast<unsigned char>(frame[2]) >> 2) & 3, 1);  // 24 kHz
  EXPECT_EQ(static_cast<unsigned char>(frame[3]) >> 6, 3);        // mono
  EXPECT_EQ(silent_mp3("starting the guided tour now").size(), frames_for_text("starting the guided tour now") * 144);
  EXPECT_EQ(frames_for_text("hi"), 42u);
  EXPECT_EQ(frames_for_text(std::string(20000, 'a') + " b"), 42u);
}

TEST(Tts, SpeaksWhereItCanAndSaysWhenItFallsBackToSilence) {
  TempDir dir;
  std::string path = dir.path + "/a.mp3";
  std::vector<std::string> heard;
  auto speaks = [&heard](const std::string& text) { heard.push_back(text); return Speech{"MP3:" + text, ""}; };
  auto mute = [](const std::string&) { return Speech{std::nullopt, "espeak-ng is not installed"}; };

  RunResult r = tts_command({"say", "--out", path, " --looks like an option"}, speaks);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(path), "MP3: --looks like an option");

  r = tts_command({"say", "--out", path, "starting the guided tour now"}, mute);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "ovra-tts: could not speak (espeak-ng is not installed), so the file is silent; "
                   "install espeak-ng and lame (scripts/setup.sh does) to hear the text\n");
  EXPECT_EQ(read_file(path), silent_mp3("starting the guided tour now"));

  // Only `say --out <file> <text>`: no separator, and a text that begins with "-" is an option.
  EXPECT_EQ(tts_command({"say", path, "x"}, speaks).exit_code, 2);
  EXPECT_EQ(tts_command({"say", "--out", path, "--", "x"}, speaks).exit_code, 2);
  r = tts_command({"say", "--out", path, "--looks like an option"}, speaks);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "ovra-tts: unknown option --looks like an option\nusage: ovra-tts say --out <path.mp3> <text>\n");
  EXPECT_EQ(tts_command({"say", "--out", dir.path + "/no/such/dir/a.mp3", "x"}, speaks).exit_code, 1);
  EXPECT_EQ(heard, (std::vector<std::string>{" --looks like an option", "x"}));
}

TEST(Programs, StandInsAreLoggedAndObeyTheirFaults) {
  TempDir dir;
  Store store(dir.path);
  FakeClock clock(kT0);
  store.update_faults([](std::vector<Fault>& f) { f.push_back({"*", "ovra-tts", "empty", "", 1}); });
  ProgramStart s = start_program("ovra-tts", {"say", "--out", "/x.mp3", "hi"}, store, clock);
  EXPECT_TRUE(s.replaced);
  EXPECT_EQ(s.result.out, "");
  s = start_program("ovra-cli", {"webview", "open", "http://127.0.0.1:8930/"}, store, clock);
  EXPECT_FALSE(s.replaced);
  EXPECT_EQ(store.activity(),
            "{\"argv\":[\"say\",\"--out\",\"/x.mp3\",\"hi\"],\"faults\":[\"empty\"],\"program\":\"ovra-tts\",\"time\":\"2025-06-15T15:06:40.000Z\",\"tool\":\"ovra-tts\"}\n"
            "{\"argv\":[\"webview\",\"open\",\"http://127.0.0.1:8930/\"],\"program\":\"ovra-cli\",\"time\":\"2025-06-15T15:06:40.000Z\",\"tool\":\"ovra-cli\"}\n");
  store.update_faults([](std::vector<Fault>& f) { f.push_back({"*", "ovra-wiki", "exit", "9", -1}); });
  s = start_program("ovra-wiki", {"clone", "a/b", "--dir", "/tmp/x"}, store, clock);
  EXPECT_EQ(finish_program(s, {"done\n", "", 0, 0, false}).exit_code, 9);
}

TEST(Png, EncodingIsWellFormed) {
  EXPECT_EQ(crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(base64("Man"), "TWFu");
  EXPECT_EQ(base64("Ma"), "TWE=");
  EXPECT_EQ(base64_decode(base64(std::string("\x00\xff\x10z", 4))), std::string("\x00\xff\x10z", 4));
  Canvas c(300, 300, {{0, 0, 0}, {255, 255, 255}});  // more than one stored deflate block
  c.fill(10, 10, 5, 5, 1);
  std::string png = c.png();
  ASSERT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  // Walk the chunks and check every CRC.
  size_t pos = 8;
  std::vector<std::string> types;
  while (pos + 12 <= png.size()) {
    auto u32 = [&](size_t at) {
      return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) | (uint32_t(uint8_t(png[at + 2])) << 8) |
             uint32_t(uint8_t(png[at + 3]));
    };
    uint32_t len = u32(pos);
    std::string body = png.substr(pos + 4, 4 + len);
    EXPECT_EQ(crc32(body), u32(pos + 8 + len)) << body.substr(0, 4);
    types.push_back(body.substr(0, 4));
    pos += 12 + len;
  }
  EXPECT_EQ(pos, png.size());
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}));
}

}  // namespace
}  // namespace sim::testing
