// Named starting points for the simulated boxes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools.h"

namespace sim {

struct World {
  std::string scenario;
  std::vector<std::string> order;  // the boxes in the order `targets` lists them
  Boxes boxes;
};

struct ScenarioInfo {
  const char* name;
  const char* summary;
};

const std::vector<ScenarioInfo>& scenarios();
std::optional<World> make_scenario(const std::string& name, int64_t now_ms);
// A closed box with Fusion installed and the user signed in earlier, as a new desktop starts out.
Box closed_box(int64_t now_ms);

}  // namespace sim
