#include "parts/surface_table.h"

namespace loomdeck {

namespace {

constexpr Surface kSurfaces[] = {
    {"symbol", "fusion_show_symbol", "Symbol", false},
    {"footprint", "fusion_show_footprint", "Footprint", false},
    {"package3d", "fusion_show_3d_package", "3D package", false},
    {"library", "fusion_show_library", "Library", false},
    {"schematic", "fusion_show_schematic", "Schematic", true},
    {"board2d", "fusion_show_2d_board", "2D board", true},
    {"board3d", "fusion_show_3d_board", "3D board", true},
    {"project", "fusion_show_project", "Project", true},
};

}  // namespace

const Surface* find_surface(std::string_view key) {
  for (const Surface& s : kSurfaces) {
    if (s.key == key) return &s;
  }
  return nullptr;
}

}  // namespace loomdeck
