// A tiny palette image and its PNG encoding (stored deflate blocks: no compression needed for
// captures of a few kilobytes), plus base64 for the bridge's screenshot members.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct Rgb {
  uint8_t r, g, b;
};

class Canvas {
 public:
  Canvas(int width, int height, std::vector<Rgb> palette);
  int width() const { return width_; }
  int height() const { return height_; }
  uint8_t at(int x, int y) const { return pixels_[static_cast<size_t>(y * width_ + x)]; }
  void set(int x, int y, uint8_t color);
  void fill(int x, int y, int w, int h, uint8_t color);
  void frame(int x, int y, int w, int h, uint8_t color);
  void line(int x0, int y0, int x1, int y1, uint8_t color);
  void disc(int cx, int cy, int r, uint8_t color);
  // Upper-case letters, digits, space, "-" and "." in a 3x5 font; other characters are skipped.
  void text(int x, int y, const std::string& s, uint8_t color);
  std::string png() const;

 private:
  int width_, height_;
  std::vector<Rgb> palette_;
  std::vector<uint8_t> pixels_;
};

std::string base64(const std::string& bytes);
std::string base64_decode(const std::string& text);
uint32_t crc32(const std::string& bytes);

}  // namespace sim
