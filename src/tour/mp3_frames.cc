#include "tour/mp3_frames.h"

#include <cstddef>
#include <cstdint>

namespace loomdeck {

namespace {

constexpr std::size_t kId3v2HeaderBytes = 10;
constexpr std::size_t kId3v1Bytes = 128;

std::uint8_t byte_at(std::string_view bytes, std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); }

// The bytes an ID3v2 tag at the start takes, header (and footer) included; 0 without one.
std::size_t id3v2_length(std::string_view bytes) {
  if (bytes.size() < kId3v2HeaderBytes || !bytes.starts_with("ID3")) return 0;
  std::size_t size = 0;
  for (std::size_t i = 6; i < 10; ++i) {
    // A sync-safe integer: seven bits a byte.
    if (byte_at(bytes, i) & 0x80) return 0;
    size = (size << 7) | byte_at(bytes, i);
  }
  const bool footer = (byte_at(bytes, 5) & 0x10) != 0;
  return kId3v2HeaderBytes + size + (footer ? kId3v2HeaderBytes : 0);
}

// The length of the frame whose header starts at `at`, from its version, layer, bitrate, sample
// rate and padding; 0 when the four bytes there are no valid header (free-format bitrates included,
// since their length cannot be read from the header).
std::size_t frame_length(std::string_view bytes, std::size_t at) {
  if (bytes.size() - at < 4) return 0;
  const std::uint8_t b1 = byte_at(bytes, at + 1), b2 = byte_at(bytes, at + 2);
  if (byte_at(bytes, at) != 0xFF || (b1 & 0xE0) != 0xE0) return 0;
  const int version = (b1 >> 3) & 3;  // 0: MPEG 2.5, 1: reserved, 2: MPEG 2, 3: MPEG 1
  const int layer = (b1 >> 1) & 3;    // 1: III, 2: II, 3: I, 0: reserved
  const int bitrate_index = b2 >> 4;
  const int rate_index = (b2 >> 2) & 3;
  if (version == 1 || layer == 0 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3) return 0;

  static constexpr int kBitrates[5][15] = {
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG 1, layer I
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG 1, layer II
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG 1, layer III
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG 2 and 2.5, layer I
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG 2 and 2.5, layers II and III
  };
  static constexpr int kRates[3] = {44100, 48000, 32000};
  const bool mpeg1 = version == 3;
  const int table = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
  const long bitrate = kBitrates[table][bitrate_index] * 1000L;
  const long rate = kRates[rate_index] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  const long padding = (b2 >> 1) & 1;
  if (layer == 3) return static_cast<std::size_t>((12 * bitrate / rate + padding) * 4);
  // Layer III of MPEG 2 and 2.5 carries half the samples a frame.
  const long factor = (layer == 1 && !mpeg1) ? 72 : 144;
  return static_cast<std::size_t>(factor * bitrate / rate + padding);
}

}  // namespace

bool whole_mp3(std::string_view bytes) {
  std::size_t at = id3v2_length(bytes);
  std::size_t frames = 0;
  for (std::size_t length;
       at < bytes.size() && (length = frame_length(bytes, at)) != 0 && length <= bytes.size() - at;) {
    at += length;
    ++frames;
  }
  if (frames == 0) return false;
  return at == bytes.size() || (bytes.size() - at == kId3v1Bytes && bytes.substr(at, 3) == "TAG");
}

}  // namespace loomdeck
