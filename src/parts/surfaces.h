#pragma once

#include <string>

#include "http/request.h"
#include "http/stream.h"
#include "parts/parts_service.h"

namespace loomdeck {

// Stages the part on the box when needed, opens the surface in the background (waiting for
// Fusion's main thread, healing and retrying once), captures Fusion's window and answers with
// the capture as base64 text. Every path ends in one JSON object.
json show_surface(PartsService& ctx, const std::string& box, const std::string& surface, const std::string& part);

// The part a surface request names: its `part`, else the `demoPart` setting, else the default.
std::string requested_part(const json& body, const json& settings);

// POST /api/surface {surface, target?, part?}
void handle_surface(PartsService& ctx, const Request& request, Stream& stream);

}  // namespace loomdeck
