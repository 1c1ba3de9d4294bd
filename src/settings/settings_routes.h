#pragma once

#include "http/exchange.h"

namespace loomdeck {

// GET /settings and POST /settings: the dashboard's own settings file.
void handle_get_settings(Exchange& ex);
void handle_post_settings(Exchange& ex);

}  // namespace loomdeck
