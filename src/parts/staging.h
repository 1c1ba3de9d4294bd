#pragma once

#include <optional>
#include <string>

#include "parts/parts_service.h"

namespace loomdeck {

// Where staged libraries go on the box.
inline constexpr const char* kSurfacesDest = "C:/Users/pell/AppData/Local/Temp/loomdeck-surfaces";

// A toast for the open pages plus the line "surfaces: <message>" in the server log.
void narrate_staging(PartsService& ctx, const std::string& message, const std::string& kind);

// The staged part, or the sentence that says why it could not be staged.
struct StageResult {
  std::optional<StagedPart> part;
  std::string error;
};

// Puts the part on the box once per server life: ready first, clone from the wiki, send the
// library (and 3D model) to the box, bind the model, generate the test project. A cached entry
// is returned as it is.
StageResult stage_part(PartsService& ctx, const std::string& box, const std::string& part);

// Runs fusion_make_test_project. A time-out or a busy main thread means Fusion is still at it:
// then, after the optional toast, it waits for the main thread (up to 420 s) and takes a bridge
// test document in front as success. The answer's `ok` says whether the project is usable.
BridgeReply generate_test_project(PartsService& ctx, const std::string& box, const std::string& library_path,
                                  const char* waiting_toast);

}  // namespace loomdeck
