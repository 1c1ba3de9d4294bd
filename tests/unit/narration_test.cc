#include "tour/narration.h"

#include <gtest/gtest.h>

#include <string>

#include "http/assets.h"
#include "http/stream.h"

namespace loomdeck {
namespace {

std::string reply(std::string_view content_type, std::string_view body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(content_type) +
         "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nAccess-Control-Allow-Origin: *\r\nConnection: close\r\n\r\n" + std::string(body);
}

std::string served(std::string_view path) {
  StringStream stream;
  serve_narration(stream, path);
  return stream.data;
}

// Every clip is what the page's audio element expects: bare MPEG-2 Layer III frames, 48 kbit/s,
// 24,000 Hz, mono, no CRC, no padding, so each frame is exactly 144 bytes; no tag of any kind.
TEST(NarrationClips, EveryStepHasAWellFormedEmbeddedClip) {
  constexpr std::size_t kFrameBytes = 144;
  for (std::string_view key : kNarrationSteps) {
    SCOPED_TRACE(std::string(key));
    const std::optional<std::string_view> clip = embedded_asset("audio/" + std::string(key) + ".mp3");
    ASSERT_TRUE(clip);
    ASSERT_GT(clip->size(), 0u);
    ASSERT_EQ(clip->size() % kFrameBytes, 0u);
    EXPECT_EQ(narration_clip(key), clip);
    for (std::size_t at = 0; at < clip->size(); at += kFrameBytes) {
      SCOPED_TRACE("frame at byte " + std::to_string(at));
      const auto b = [&](std::size_t k) { return static_cast<unsigned char>((*clip)[at + k]); };
      const std::string_view start = clip->substr(at, 3);
      ASSERT_NE(start, "ID3");
      ASSERT_NE(start, "TAG");
      ASSERT_EQ(b(0), 0xFF) << "frame sync";
      ASSERT_EQ(b(1) & 0xE0, 0xE0) << "frame sync";
      ASSERT_EQ((b(1) >> 3) & 3, 0b10) << "MPEG-2";
      ASSERT_EQ((b(1) >> 1) & 3, 0b01) << "Layer III";
      ASSERT_EQ(b(1) & 1, 1) << "no CRC";
      ASSERT_EQ(b(2) >> 4, 0b0110) << "48 kbit/s";
      ASSERT_EQ((b(2) >> 2) & 3, 0b01) << "24,000 Hz";
      ASSERT_EQ((b(2) >> 1) & 1, 0) << "padding clear";
      ASSERT_EQ(b(3) >> 6, 0b11) << "mono";
      // A Xing or Info frame carries its tag right after the header and the 9 bytes of side information.
      const std::string_view tag = clip->substr(at + 13, 4);
      ASSERT_NE(tag, "Xing");
      ASSERT_NE(tag, "Info");
    }
  }
}

TEST(NarrationClips, OnlyTourStepsHaveClips) {
  EXPECT_FALSE(narration_clip("Launch"));
  EXPECT_FALSE(narration_clip(""));
  EXPECT_FALSE(narration_clip("launch.mp3"));
  EXPECT_FALSE(narration_clip("../index.html"));
  EXPECT_FALSE(narration_clip("launch "));
}

TEST(NarrationStepKey, EveryTrailingSuffixIsRemovedAndNothingElseDecoded) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"/demo/audio/launch.mp3", "launch"},
      {"/demo/audio/launch", "launch"},
      {"/demo/audio/launch.mp3.mp3.mp3", "launch"},
      {"/demo/audio/.mp3", ""},
      {"/demo/audio/", ""},
      {"/demo/audio/Launch.mp3", "Launch"},
      {"/demo/audio/launch.MP3", "launch.MP3"},
      {"/demo/audio/launch.mp3x", "launch.mp3x"},
      {"/demo/audio/mp3", "mp3"},
      {"/demo/audio/2d%2Dboard.mp3", "2d%2Dboard"},
      {"/demo/audio/a/b.mp3", "a/b"},
  };
  for (const auto& [path, key] : cases) EXPECT_EQ(narration_step_key(path), key) << path;
}

TEST(NarrationRoute, ServesTheClipOrAJsonRefusal) {
  const std::string_view launch = *embedded_asset("audio/launch.mp3");
  EXPECT_EQ(served("/demo/audio/launch.mp3"), reply("audio/mpeg", launch));
  EXPECT_EQ(served("/demo/audio/launch"), reply("audio/mpeg", launch));
  EXPECT_EQ(served("/demo/audio/3d-package.mp3.mp3"), reply("audio/mpeg", *embedded_asset("audio/3d-package.mp3")));

  EXPECT_EQ(served("/demo/audio/Launch.mp3"),
            reply("application/json", R"({"ok":false,"why":"no pre-built narration for step Launch"})"));
  EXPECT_EQ(served("/demo/audio/.mp3"),
            reply("application/json", R"({"ok":false,"why":"no pre-built narration for step "})"));
  EXPECT_EQ(served("/demo/audio/../index.html"),
            reply("application/json", R"({"ok":false,"why":"no pre-built narration for step ../index.html"})"));
  EXPECT_EQ(served("/demo/audio/\"<b>\xFF.mp3"),
            reply("application/json",
                  "{\"ok\":false,\"why\":\"no pre-built narration for step \\\"<b>\xEF\xBF\xBD\"}"));
}

}  // namespace
}  // namespace loomdeck
