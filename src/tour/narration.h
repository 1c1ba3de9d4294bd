#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "http/request.h"
#include "http/stream.h"

namespace loomdeck {

// The tour's step keys; each has a pre-built clip at web/audio/<key>.mp3.
inline constexpr std::array<std::string_view, 16> kNarrationSteps = {
    "launch",     "mcp",    "aps",          "datahub",     "stage",     "library",  "symbol",   "footprint",
    "3d-package", "device", "make-project", "open-design", "schematic", "2d-board", "3d-board", "exports",
};

inline constexpr std::string_view kNarrationPrefix = "/demo/audio/";

// The step key of a narration path: the rest after the prefix, with every trailing ".mp3"
// removed. Nothing else is decoded.
std::string narration_step_key(std::string_view path);

// The clip of a tour step, or nothing for a key the tour does not have (matched exactly).
std::optional<std::string_view> narration_clip(std::string_view step_key);

// The reply for a narration path: the clip as audio/mpeg, else a JSON refusal with status 200
// so the page simply falls back to speech synthesis.
void serve_narration(Stream& stream, std::string_view path);

// GET /demo/audio/<step key>.mp3
void handle_narration(const Request& request, Stream& stream);

}  // namespace loomdeck
