#include "png.h"

#include <algorithm>
#include <cstdlib>

namespace sim {

namespace {

void put_u32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void chunk(std::string& out, const char* type, const std::string& data) {
  put_u32(out, static_cast<uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  out += body;
  put_u32(out, crc32(body));
}

std::string zlib_stored(const std::string& raw) {
  std::string out = "\x78\x01";
  size_t pos = 0;
  do {
    size_t n = std::min<size_t>(65535, raw.size() - pos);
    bool last = pos + n == raw.size();
    out.push_back(static_cast<char>(last ? 1 : 0));
    out.push_back(static_cast<char>(n & 0xFF));
    out.push_back(static_cast<char>(n >> 8));
    out.push_back(static_cast<char>(~n & 0xFF));
    out.push_back(static_cast<char>((~n >> 8) & 0xFF));
    out.append(raw, pos, n);
    pos += n;
  } while (pos < raw.size());
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  put_u32(out, (b << 16) | a);
  return out;
}

// 3x5 glyphs, one row per 3 bits, top row first.
const char* glyph(char c) {
  switch (c) {
    case 'A': return "\x2\x5\x7\x5\x5";
    case 'B': return "\x6\x5\x6\x5\x6";
    case 'C': return "\x3\x4\x4\x4\x3";
    case 'D': return "\x6\x5\x5\x5\x6";
    case 'E': return "\x7\x4\x6\x4\x7";
    case 'F': return "\x7\x4\x6\x4\x4";
    case 'G': return "\x3\x4\x5\x5\x3";
    case 'H': return "\x5\x5\x7\x5\x5";
    case 'I': return "\x7\x2\x2\x2\x7";
    case 'J': return "\x1\x1\x1\x5\x2";
    case 'K': return "\x5\x5\x6\x5\x5";
    case 'L': return "\x4\x4\x4\x4\x7";
    case 'M': return "\x5\x7\x7\x5\x5";
    case 'N': return "\x6\x5\x5\x5\x5";
    case 'O': return "\x2\x5\x5\x5\x2";
    case 'P': return "\x6\x5\x6\x4\x4";
    case 'Q': return "\x2\x5\x5\x6\x3";
    case 'R': return "\x6\x5\x6\x5\x5";
    case 'S': return "\x3\x4\x2\x1\x6";
    case 'T': return "\x7\x2\x2\x2\x2";
    case 'U': return "\x5\x5\x5\x5\x7";
    case 'V': return "\x5\x5\x5\x5\x2";
    case 'W': return "\x5\x5\x7\x7\x5";
    case 'X': return "\x5\x5\x2\x5\x5";
    case 'Y': return "\x5\x5\x2\x2\x2";
    case 'Z': return "\x7\x1\x2\x4\x7";
    case '0': return "\x7\x5\x5\x5\x7";
    case '1': return "\x2\x6\x2\x2\x7";
    case '2': return "\x6\x1\x2\x4\x7";
    case '3': return "\x6\x1\x2\x1\x6";
    case '4': return "\x5\x5\x7\x1\x1";
    case '5': return "\x7\x4\x6\x1\x6";
    case '6': return "\x3\x4\x7\x5\x7";
    case '7': return "\x7\x1\x2\x2\x2";
    case '8': return "\x7\x5\x7\x5\x7";
    case '9': return "\x7\x5\x7\x1\x6";
    case '-': return "\x0\x0\x7\x0\x0";
    case '.': return "\x0\x0\x0\x0\x2";
    case ' ': return "\x0\x0\x0\x0\x0";
    default: return nullptr;
  }
}

}  // namespace

uint32_t crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

Canvas::Canvas(int width, int height, std::vector<Rgb> palette)
    : width_(width), height_(height), palette_(std::move(palette)), pixels_(static_cast<size_t>(width * height), 0) {}

void Canvas::set(int x, int y, uint8_t color) {
  if (x >= 0 && y >= 0 && x < width_ && y < height_) pixels_[static_cast<size_t>(y * width_ + x)] = color;
}

void Canvas::fill(int x, int y, int w, int h, uint8_t color) {
  for (int j = y; j < y + h; ++j)
    for (int i = x; i < x + w; ++i) set(i, j, color);
}

void Canvas::frame(int x, int y, int w, int h, uint8_t color) {
  line(x, y, x + w - 1, y, color);
  line(x, y + h - 1, x + w - 1, y + h - 1, color);
  line(x, y, x, y + h - 1, color);
  line(x + w - 1, y, x + w - 1, y + h - 1, color);
}

void Canvas::line(int x0, int y0, int x1, int y1, uint8_t color) {
  int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  for (;;) {
    set(x0, y0, color);
    if (x0 == x1 && y0 == y1) break;
    int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

void Canvas::disc(int cx, int cy, int r, uint8_t color) {
  for (int j = -r; j <= r; ++j)
    for (int i = -r; i <= r; ++i)
      if (i * i + j * j <= r * r) set(cx + i, cy + j, color);
}

void Canvas::text(int x, int y, const std::string& s, uint8_t color) {
  for (char raw : s) {
    char c = (raw >= 'a' && raw <= 'z') ? static_cast<char>(raw - 'a' + 'A') : raw;
    const char* g = glyph(c);
    if (!g) continue;
    for (int row = 0; row < 5; ++row)
      for (int col = 0; col < 3; ++col)
        if (g[row] & (4 >> col)) set(x + col, y + row, color);
    x += 4;
  }
}

std::string Canvas::png() const {
  std::string out = "\x89PNG\r\n\x1a\n";
  std::string ihdr;
  put_u32(ihdr, static_cast<uint32_t>(width_));
  put_u32(ihdr, static_cast<uint32_t>(height_));
  ihdr += std::string("\x08\x03\x00\x00\x00", 5);  // 8-bit palette, no interlace
  chunk(out, "IHDR", ihdr);
  std::string plte;
  for (const auto& c : palette_) plte += {static_cast<char>(c.r), static_cast<char>(c.g), static_cast<char>(c.b)};
  chunk(out, "PLTE", plte);
  std::string raw;
  raw.reserve(static_cast<size_t>((width_ + 1) * height_));
  for (int y = 0; y < height_; ++y) {
    raw.push_back('\0');
    raw.append(reinterpret_cast<const char*>(&pixels_[static_cast<size_t>(y * width_)]), static_cast<size_t>(width_));
  }
  chunk(out, "IDAT", zlib_stored(raw));
  chunk(out, "IEND", "");
  return out;
}

std::string base64(const std::string& bytes) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                 static_cast<uint8_t>(bytes[i + 2]);
    for (int k = 18; k >= 0; k -= 6) out.push_back(table[(v >> k) & 63]);
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out.push_back(table[(v >> 18) & 63]);
    out.push_back(table[(v >> 12) & 63]);
    out.push_back(i + 1 < bytes.size() ? table[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::string base64_decode(const std::string& text) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else continue;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return out;
}

}  // namespace sim
