#include "core/text.h"

#include "core/utf8.h"

namespace loomdeck {

std::string_view trim(std::string_view text, std::string_view strip) {
  const std::size_t begin = text.find_first_not_of(strip);
  if (begin == std::string_view::npos) return text.substr(text.size());
  return text.substr(begin, text.find_last_not_of(strip) - begin + 1);
}

std::optional<unsigned long long> parse_unsigned(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  return parse_digits(text);
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string percent_encoded(std::string_view text) {
  static constexpr std::string_view kKept = "-._~!$'()*,/:;@";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    const bool alnum = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
    if (alnum || kKept.find(c) != std::string_view::npos) {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string decode_query_value(std::string_view raw, QueryEscapes escapes) {
  const bool all = escapes == QueryEscapes::kAll;
  std::string bytes;
  bytes.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '+' && all) {
      bytes += ' ';
    } else if (c == '%' && i + 2 < raw.size() && hex_value(raw[i + 1]) >= 0 && hex_value(raw[i + 2]) >= 0 &&
               (all || raw.substr(i + 1, 2) == "20")) {
      bytes += static_cast<char>(hex_value(raw[i + 1]) * 16 + hex_value(raw[i + 2]));
      i += 2;
    } else {
      bytes += c;
    }
  }
  return lenient_utf8(bytes);
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = text.find(from, pos);
    out.append(text.substr(pos, hit == std::string_view::npos ? std::string_view::npos : hit - pos));
    if (hit == std::string_view::npos) return out;
    out.append(to);
    pos = hit + from.size();
  }
}

std::string escape_url_bytes(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F || c == '#') {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace loomdeck
