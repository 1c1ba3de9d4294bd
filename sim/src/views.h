// Believable captures of Fusion's window: one small drawing per design surface.
#pragma once

#include <string>

namespace sim {

// Surfaces: symbol, footprint, package3d, library, schematic, board2d, board3d, project;
// "home" (Fusion with nothing special open) and "desktop" (Fusion closed) for anything else.
std::string render_view_png(const std::string& surface, const std::string& caption);

}  // namespace sim
