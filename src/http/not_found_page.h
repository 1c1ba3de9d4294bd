#pragma once

#include <string>
#include <string_view>

#include "http/stream.h"

namespace loomdeck {

// The dashboard's address relative to `path` ("./" from "/nope", "../../" from "/a/b/c"), so the
// link also leads home behind a proxy that serves the dashboard under a path prefix. Only the
// path's slashes are counted: nothing of the request ends up in markup.
std::string dashboard_link(std::string_view path);

// The 404 a browser gets: a small page in plain words with a link to the dashboard.
void send_not_found_page(Stream& stream, std::string_view path);

}  // namespace loomdeck
