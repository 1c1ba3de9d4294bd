#pragma once

#include <optional>
#include <string_view>

namespace loomdeck {

// The bytes of a file under web/ (path relative to it, e.g. "index.html", "audio/intro.mp3"),
// compiled into the executable.
std::optional<std::string_view> embedded_asset(std::string_view path);

}  // namespace loomdeck
