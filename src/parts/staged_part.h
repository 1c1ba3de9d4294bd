#pragma once

#include <string>

#include "core/guarded_map.h"

namespace loomdeck {

// A wiki part that the design surfaces have put on a box.
struct StagedPart {
  std::string library_path;  // where the library file lies on the box
  std::string deviceset;     // the library file name up to its last "."
  bool generated = false;    // whether the solo test project around it is usable
};

// The staged-part cache key: box, "|", part reference.
inline std::string staged_part_key(const std::string& box, const std::string& part) { return box + "|" + part; }

// Wiki parts staged for the design surfaces, keyed "box|part"; kept for the server's life.
using StagedParts = GuardedMap<StagedPart>;

}  // namespace loomdeck
