#pragma once

#include <string_view>

#include "http/request.h"

namespace loomdeck {

// The weight (0 to 1000, thousandths of a q-value) a list header such as Accept or
// Accept-Encoding gives `name` (compared without regard to case), summed over every field of
// that header: its own element's q (1000 when it has none), else, when `wildcard` is not empty,
// the wildcard element's; 0 when neither is listed or a q-value is not one.
int listed_weight(const Headers& headers, std::string_view header, std::string_view name, std::string_view wildcard);

// Whether the client takes `Content-Encoding: gzip`: gzip (or, when gzip is not listed, "*") with a q
// above 0. No Accept-Encoding at all means identity.
bool accepts_gzip(const Headers& headers);

// Whether the client asks for HTML: Accept names text/html itself (not through "*/*") with a q
// above 0 and at least that of application/json. Browsers navigating do; curl (`*/*`) and JSON
// clients do not.
bool asks_for_html(const Headers& headers);

// Whether an If-None-Match value names `etag` (or is "*"); tags compare weakly, as the header wants.
bool if_none_match_hits(std::string_view if_none_match, std::string_view etag);

}  // namespace loomdeck
