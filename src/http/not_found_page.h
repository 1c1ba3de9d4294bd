#pragma once

#include "http/stream.h"

namespace loomdeck {

// The 404 a browser gets: a small page in plain words with a link to the dashboard. It is the
// same bytes whatever was asked, so nothing of the request ends up in markup.
void send_not_found_page(Stream& stream);

}  // namespace loomdeck
