#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace loomdeck {

// Bytes from sockets, files and child processes may be any bytes; they become text only
// through this decoder, which replaces every invalid sequence with U+FFFD (as the WHATWG
// decoder does), so the JSON serialiser never meets invalid UTF-8.
std::string lenient_utf8(std::string_view bytes);

// The first `n` characters (code points) of valid UTF-8 text.
std::string utf8_prefix(std::string_view text, std::size_t n);

}  // namespace loomdeck
