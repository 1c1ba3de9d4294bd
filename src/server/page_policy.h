#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "http/request.h"
#include "server/request_gate.h"

namespace loomdeck {

// Whether the path is one of the two pages (the dashboard, quick actions).
bool is_page_path(std::string_view path);

// The header lines every page carries: which pages may frame it (its own, the workspace proxy's
// origin, the listed origins and `frame_ancestors`, space-separated CSP sources such as the
// editor's webview scheme) and that no other page may keep a handle on its window.
std::string page_security_headers(const GateConfig& config, std::string_view frame_ancestors);

// LOOMDECK_FRAME_ANCESTORS, or the webview scheme of the editors whose dock shows the dashboard.
std::string frame_ancestors_from_environment();

// Whether the page was reached from another site (a link, a frame, window.open): the browser
// says so in Sec-Fetch-Site. Such a page starts nothing by itself. The dock's webview frames the
// page from the editor's own scheme, so it counts as another site; the address the server gave
// the dock carries `dock_key` ("entrance=<key>"), which no other site knows.
bool foreign_entrance(const Request& request, const std::string& dock_key);

// `url` with "entrance=<key>" added to its query (before any fragment).
std::string with_dock_key(const std::string& url, const std::string& key);

// Who sent the user here, for the notice: the Origin, else the Referer's origin, else "another site".
std::string entrance_culprit(const Headers& headers);

// "The dashboard was opened from <culprit>"
std::string entrance_notice_text(const std::string& culprit);

// The page as served to a foreign entrance: its entrance marker says "foreign".
std::string mark_foreign_entrance(std::string_view page);

}  // namespace loomdeck
