#include "views.h"

#include "png.h"

namespace sim {

namespace {

enum Color : uint8_t { kBg, kPanel, kGrid, kGreen, kRed, kBlue, kYellow, kWhite, kCopper, kBoard, kGray, kPad, kDark, kTop, kSide };

const std::vector<Rgb>& palette() {
  static const std::vector<Rgb> p = {
      {0x1e, 0x1e, 0x1e}, {0x2d, 0x2d, 0x30}, {0x3a, 0x3a, 0x3e}, {0x3f, 0xb9, 0x50}, {0xf8, 0x51, 0x49},
      {0x58, 0xa6, 0xff}, {0xd2, 0x99, 0x22}, {0xe6, 0xe6, 0xe6}, {0xc8, 0x75, 0x33}, {0x1f, 0x5f, 0x3a},
      {0x8b, 0x94, 0x9e}, {0xb0, 0xb0, 0xb0}, {0x12, 0x12, 0x14}, {0x9a, 0x9a, 0xa2}, {0x5e, 0x5e, 0x66}};
  return p;
}

constexpr int kW = 160, kH = 100;

void grid(Canvas& c) {
  for (int y = 16; y < kH - 8; y += 6)
    for (int x = 4; x < kW - 4; x += 6) c.set(x, y, kGrid);
}

void symbol(Canvas& c) {
  grid(c);
  c.frame(60, 30, 40, 44, kRed);
  for (int i = 0; i < 4; ++i) {
    c.line(44, 38 + i * 10, 59, 38 + i * 10, kRed);
    c.disc(44, 38 + i * 10, 1, kGreen);
  }
  c.line(100, 52, 116, 52, kRed);
  c.disc(116, 52, 1, kGreen);
  c.line(72, 44, 72, 60, kRed);
  c.line(72, 44, 86, 52, kRed);
  c.line(72, 60, 86, 52, kRed);
  c.line(86, 44, 86, 60, kRed);
}

void footprint(Canvas& c) {
  c.fill(4, 14, kW - 8, kH - 22, kDark);
  c.frame(52, 28, 56, 48, kYellow);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) c.fill(58 + i * 32, 34 + j * 24, 12, 12, kRed);
  c.disc(54, 30, 1, kWhite);
}

void iso_block(Canvas& c, int x, int y, int w, int d, int h, uint8_t top, uint8_t side, uint8_t front) {
  for (int j = 0; j < h; ++j) c.line(x, y + d + j, x + w, y + d + j, front);
  for (int j = 0; j < d; ++j) c.line(x + d - j, y + j, x + w + d - j, y + j, top);
  for (int j = 0; j < h; ++j) c.line(x + w, y + d + j, x + w + d, y + j, side);
}

void package3d(Canvas& c) {
  iso_block(c, 54, 34, 40, 14, 22, kTop, kSide, kGray);
  c.disc(80, 40, 6, kWhite);
  for (int i = 0; i < 2; ++i) c.fill(52 + i * 40, 66, 8, 4, kPad);
}

void library(Canvas& c) {
  c.fill(4, 14, 56, kH - 22, kPanel);
  for (int i = 0; i < 6; ++i) c.fill(8, 20 + i * 10, 44 - (i % 3) * 8, 4, i == 1 ? kBlue : kGray);
  c.frame(76, 26, 32, 30, kRed);
  c.line(66, 34, 75, 34, kRed);
  c.line(66, 48, 75, 48, kRed);
  c.frame(118, 30, 28, 22, kYellow);
  c.fill(122, 34, 6, 6, kRed);
  c.fill(136, 42, 6, 6, kRed);
}

void schematic(Canvas& c) {
  grid(c);
  c.frame(30, 36, 24, 24, kRed);
  c.line(54, 44, 90, 44, kGreen);
  for (int i = 0; i < 4; ++i) c.line(90 + i * 5, 40 + (i % 2) * 8, 95 + i * 5, 48 - (i % 2) * 8, kRed);
  c.line(110, 44, 130, 44, kGreen);
  c.line(130, 44, 130, 70, kGreen);
  c.line(124, 70, 136, 70, kGreen);
  c.line(127, 73, 133, 73, kGreen);
  c.line(42, 60, 42, 78, kGreen);
  c.disc(90, 44, 1, kGreen);
}

void board2d(Canvas& c) {
  c.fill(24, 22, 112, 62, kBoard);
  c.frame(24, 22, 112, 62, kYellow);
  c.fill(40, 36, 10, 10, kCopper);
  c.fill(40, 58, 10, 10, kCopper);
  c.fill(100, 40, 10, 24, kCopper);
  c.line(50, 41, 100, 45, kCopper);
  c.line(50, 63, 100, 58, kCopper);
  for (int i = 0; i < 4; ++i) c.disc(30 + i * 34, 78, 2, kPad);
}

void board3d(Canvas& c) {
  iso_block(c, 26, 36, 96, 20, 6, kBoard, kDark, kDark);
  iso_block(c, 60, 30, 20, 8, 10, kTop, kSide, kGray);
  iso_block(c, 92, 38, 10, 5, 5, kCopper, kSide, kCopper);
}

void project(Canvas& c) {
  c.fill(4, 14, 70, kH - 22, kPanel);
  const uint8_t icons[] = {kBlue, kRed, kGreen, kYellow, kGray};
  for (int i = 0; i < 5; ++i) {
    c.fill(10 + (i ? 6 : 0), 20 + i * 12, 6, 6, icons[i]);
    c.fill(20 + (i ? 6 : 0), 21 + i * 12, 36, 3, kGray);
  }
  board2d(c);
}

void home(Canvas& c) {
  grid(c);
  c.line(70, 62, 90, 62, kRed);
  c.line(80, 52, 80, 72, kGreen);
  c.line(80, 62, 72, 70, kBlue);
}

}  // namespace

std::string render_view_png(const std::string& surface, const std::string& caption) {
  Canvas c(kW, kH, palette());
  if (surface == "desktop") {
    c.fill(0, 0, kW, kH, kBlue);
    c.fill(0, kH - 8, kW, 8, kDark);
    c.text(4, 4, caption, kWhite);
    return c.png();
  }
  c.fill(0, 0, kW, 10, kPanel);
  c.fill(2, 2, 6, 6, kYellow);
  c.text(12, 3, caption, kWhite);
  c.fill(0, kH - 7, kW, 7, kPanel);
  c.text(3, kH - 6, surface, kGray);
  if (surface == "symbol") symbol(c);
  else if (surface == "footprint") footprint(c);
  else if (surface == "package3d") package3d(c);
  else if (surface == "library") library(c);
  else if (surface == "schematic") schematic(c);
  else if (surface == "board2d") board2d(c);
  else if (surface == "board3d") board3d(c);
  else if (surface == "project") project(c);
  else home(c);
  return c.png();
}

}  // namespace sim
