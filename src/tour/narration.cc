#include "tour/narration.h"

#include <algorithm>

#include "http/assets.h"
#include "http/response.h"

namespace loomdeck {

std::string narration_step_key(std::string_view path) {
  std::string_view key = path.substr(std::min(path.size(), kNarrationPrefix.size()));
  constexpr std::string_view kSuffix = ".mp3";
  while (key.ends_with(kSuffix)) key.remove_suffix(kSuffix.size());
  return std::string(key);
}

std::optional<std::string_view> narration_clip(std::string_view step_key) {
  // Only the tour's own keys reach the asset table, so no path can name another embedded file.
  if (std::find(kNarrationSteps.begin(), kNarrationSteps.end(), step_key) == kNarrationSteps.end()) {
    return std::nullopt;
  }
  return embedded_asset("audio/" + std::string(step_key) + ".mp3");
}

void serve_narration(Stream& stream, std::string_view path) {
  const std::string key = narration_step_key(path);
  if (const std::optional<std::string_view> clip = narration_clip(key)) {
    respond(stream, "200 OK", "audio/mpeg", *clip);
    return;
  }
  send_json(stream, json{{"ok", false}, {"why", "no pre-built narration for step " + key}});
}

void handle_narration(const Request& request, Stream& stream) { serve_narration(stream, request.path); }

}  // namespace loomdeck
