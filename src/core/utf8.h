#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace loomdeck {

// Bytes from sockets, files and child processes may be any bytes; they become text only
// through this decoder, which replaces every invalid sequence with U+FFFD (as the WHATWG
// decoder does), so the JSON serialiser never meets invalid UTF-8.
std::string lenient_utf8(std::string_view bytes);

// The code points of valid UTF-8 text, in order.
std::vector<char32_t> code_points(std::string_view text);

// How many code points valid UTF-8 text holds.
std::size_t code_point_count(std::string_view text);

// The first `n` characters (code points) of valid UTF-8 text.
std::string utf8_prefix(std::string_view text, std::size_t n);

}  // namespace loomdeck
