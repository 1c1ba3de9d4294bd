#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace loomdeck {

// ASCII white space: space, tab, carriage return, line feed, form feed, vertical tab.
inline constexpr std::string_view kWhiteSpace = " \t\r\n\f\v";

// `text` without the leading and trailing characters found in `strip`.
std::string_view trim(std::string_view text, std::string_view strip = kWhiteSpace);

// An unsigned decimal with an optional leading "+"; anything else (or overflow) is nothing.
std::optional<unsigned long long> parse_unsigned(std::string_view text);

// ASCII letters lower-cased, every other byte kept as it is (so UTF-8 text stays valid).
std::string ascii_lower(std::string_view text);

// `text` made safe as one query value of a URL: every byte is percent-escaped except letters,
// digits and the characters a query value may carry as they are ("-._~!$'()*,/:;@"). "&", "=",
// "+", "#", "%", "?", spaces, controls, non-ASCII bytes and curl's glob characters ("[]{}") are
// always escaped.
std::string percent_encoded(std::string_view text);

// Every occurrence of `from` (not empty) replaced by `to`, scanning left to right.
std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

// `text` with the bytes a URL cannot hold as they are (controls, space, DEL, non-ASCII) and "#"
// (which would cut it short) percent-escaped; everything else kept as it came.
std::string escape_url_bytes(std::string_view text);

}  // namespace loomdeck
