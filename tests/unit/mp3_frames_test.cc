#include "tour/mp3_frames.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace loomdeck {
namespace {

using namespace std::string_literals;

// `count` MPEG 2 layer III frames of 48 kbit/s at 24 kHz (144 bytes each).
std::string frames(std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += "\xFF\xF3\x64\xC4"s + std::string(140, 'a');
  return out;
}

TEST(WholeMp3, FramesMustWalkToTheEndOfTheFile) {
  // An ID3v2 tag of 20 bytes besides its header: the size is sync-safe, seven bits a byte.
  const std::string id3v2 = "ID3\x04\x00\x00\x00\x00\x00\x14"s + std::string(20, '\0');
  const std::string id3v1 = "TAG" + std::string(125, ' ');
  // MPEG 1 layer III, 128 kbit/s, 44.1 kHz, padded: 418 bytes.
  const std::string mpeg1 = "\xFF\xFB\x92\x64"s + std::string(414, 'b');
  const std::string whole = frames(3);
  const struct {
    std::string bytes;
    bool whole;
  } cases[] = {
      {whole, true},
      {frames(1), true},
      {id3v2 + whole, true},
      {whole + id3v1, true},
      {id3v2 + mpeg1 + whole + id3v1, true},
      {whole.substr(0, whole.size() - 1), false},
      {whole.substr(0, 300), false},
      {whole + "\xFF", false},
      {whole + "junk", false},
      {"ID3\x04\x00\x00\x00\x00\x00\x14"s + std::string(10, '\0'), false},
      {id3v2, false},
      {id3v1, false},
      {std::string(2000, 'x'), false},
      {"\xFF\xF3\x64"s, false},
      // A reserved version, a bad bitrate, a reserved sample rate.
      {"\xFF\xEB\x64\xC4"s + std::string(140, 'a'), false},
      {"\xFF\xF3\xF4\xC4"s + std::string(140, 'a'), false},
      {"\xFF\xF3\x6C\xC4"s + std::string(140, 'a'), false},
      {"", false},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(whole_mp3(cases[i].bytes), cases[i].whole) << i;
}

TEST(WholeMp3, TheCommittedNarrationClipsAreWhole) {
  int clips = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(LOOMDECK_SOURCE_DIR) / "web/audio")) {
    if (entry.path().extension() != ".mp3") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_TRUE(whole_mp3(bytes)) << entry.path();
    ++clips;
  }
  EXPECT_GT(clips, 0);
}

}  // namespace
}  // namespace loomdeck
