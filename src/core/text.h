#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace loomdeck {

// ASCII white space: space, tab, carriage return, line feed, form feed, vertical tab.
inline constexpr std::string_view kWhiteSpace = " \t\r\n\f\v";

// `text` without the leading and trailing characters found in `strip`.
std::string_view trim(std::string_view text, std::string_view strip = kWhiteSpace);

// Digits and nothing else (no sign, no blank): not empty, at most `max_digits` of them and within
// unsigned long long; anything else is nothing. Reads code points as well as bytes.
template <typename Char>
constexpr std::optional<unsigned long long> parse_digits(std::basic_string_view<Char> text,
                                                         std::size_t max_digits = std::size_t(-1)) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  unsigned long long value = 0;
  for (const Char c : text) {
    if (c < Char('0') || c > Char('9')) return std::nullopt;
    const auto digit = static_cast<unsigned long long>(c - Char('0'));
    if (value > (std::numeric_limits<unsigned long long>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

inline std::optional<unsigned long long> parse_digits(std::string_view text, std::size_t max_digits = std::size_t(-1)) {
  return parse_digits<char>(text, max_digits);
}

// An unsigned decimal with an optional leading "+"; anything else (or overflow) is nothing.
std::optional<unsigned long long> parse_unsigned(std::string_view text);

// ASCII letters lower-cased, every other byte kept as it is (so UTF-8 text stays valid).
std::string ascii_lower(std::string_view text);

// `text` made safe as one query value of a URL: every byte is percent-escaped except letters,
// digits and the characters a query value may carry as they are ("-._~!$'()*,/:;@"). "&", "=",
// "+", "#", "%", "?", spaces, controls, non-ASCII bytes and curl's glob characters ("[]{}") are
// always escaped.
std::string percent_encoded(std::string_view text);

// Which escapes of a query value decode_query_value turns back into bytes.
enum class QueryEscapes {
  // "+" is a space, "%" and two hex digits (either case) the byte they spell, any other "%" stays.
  kAll,
  // Only "%20" is a space; "+" and every other "%XX" stay as they came (box names are read so).
  kSpaceOnly,
};

// One query value decoded, left to right; the bytes become text with invalid UTF-8 replaced by
// U+FFFD.
std::string decode_query_value(std::string_view raw, QueryEscapes escapes = QueryEscapes::kAll);

// Every occurrence of `from` (not empty) replaced by `to`, scanning left to right.
std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

// `text` with the bytes a URL cannot hold as they are (controls, space, DEL, non-ASCII) and "#"
// (which would cut it short) percent-escaped; everything else kept as it came.
std::string escape_url_bytes(std::string_view text);

}  // namespace loomdeck
