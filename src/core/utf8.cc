#include "core/utf8.h"

namespace loomdeck {

namespace {

constexpr const char kReplacement[] = "\xEF\xBF\xBD";

// The byte length of the sequence a lead byte of valid UTF-8 starts.
std::size_t sequence_length(char lead) {
  const unsigned char c = static_cast<unsigned char>(lead);
  return c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
}

// Length of the valid sequence starting at s[i], or 0 when it is invalid. Follows the
// Unicode "maximal subpart" rules: overlongs, surrogates and values past U+10FFFF are invalid.
std::size_t valid_sequence_length(std::string_view s, std::size_t i, std::size_t* maximal_subpart) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  *maximal_subpart = 1;
  if (c < 0x80) return 1;
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    need = 1;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 2;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 3;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= s.size()) return 0;
    const unsigned char t = b(i + k);
    const unsigned char l = (k == 1) ? lo : 0x80;
    const unsigned char h = (k == 1) ? hi : 0xBF;
    if (t < l || t > h) return 0;
    *maximal_subpart = k + 1;
  }
  return need + 1;
}

}  // namespace

std::string lenient_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t subpart = 1;
    const std::size_t len = valid_sequence_length(bytes, i, &subpart);
    if (len == 0) {
      out += kReplacement;
      i += subpart;
    } else {
      out.append(bytes.substr(i, len));
      i += len;
    }
  }
  return out;
}

std::vector<char32_t> code_points(std::string_view text) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = sequence_length(text[i]);
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    char32_t cp = len == 1 ? lead : len == 2 ? (lead & 0x1F) : len == 3 ? (lead & 0x0F) : (lead & 0x07);
    for (std::size_t k = 1; k < len && i + k < text.size(); ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    out.push_back(cp);
    i += len;
  }
  return out;
}

std::size_t code_point_count(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); i += sequence_length(text[i])) ++count;
  return count;
}

std::string utf8_prefix(std::string_view text, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t count = 0; i < text.size() && count < n; ++count) i += sequence_length(text[i]);
  return std::string(text.substr(0, i < text.size() ? i : text.size()));
}

}  // namespace loomdeck
