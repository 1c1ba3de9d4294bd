#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "http/request.h"
#include "http/stream.h"
#include "logbook/logbook.h"

namespace loomdeck {

// Entries a request gets when it names no `limit`.
inline constexpr std::size_t kLogbookDefaultLimit = 200;

// The `limit` a request asks for: the default when absent, else a whole number 1-2000; a
// refusal names what was wrong.
struct LogbookLimit {
  std::size_t value = kLogbookDefaultLimit;
  std::optional<std::string> problem;
};
LogbookLimit logbook_limit(std::optional<std::string_view> raw);

// GET /api/logbook[?target=<box>][&limit=<n>]: the newest entries, oldest first, of `box` (the box
// the query names, as the server reads it) or of every box when it is nothing or empty.
void handle_logbook(const Logbook& logbook, std::optional<std::string> box, const Request& request, Stream& stream);

}  // namespace loomdeck
