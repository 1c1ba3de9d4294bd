#pragma once

#include "http/exchange.h"

namespace loomdeck {

// POST /ui/toast and POST /ui/click: relay a toast or a remote click to every open page.
void handle_ui_toast(Exchange& ex);
void handle_ui_click(Exchange& ex);

}  // namespace loomdeck
