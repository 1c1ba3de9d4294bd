#pragma once

#include <optional>
#include <string>

#include "core/json_text.h"

namespace loomdeck {

inline constexpr const char* kDefaultDemoPart = "tolm/in-s63btg";

// ~/.ovra/loomdeck/settings.json ("/tmp" in place of a missing HOME); creates the folder.
std::string settings_path();
std::string settings_path_for_home(const std::optional<std::string>& home);

// The stored object completed with the two defaults. Missing, unreadable, unparsable or
// non-object files read as an empty object. Never writes.
json load_settings_from(const std::string& path);
json load_settings();

// Copies the members of `body` (when it is an object) over `current`; nothing is removed.
json merge_settings(json current, const json& body);

// The written form may not grow past this; every page load and status build parses it.
inline constexpr std::size_t kMaxSettingsBytes = 64 * 1024;

struct SettingsSave {
  json settings;                       // the merged settings
  std::optional<std::string> refused;  // why nothing was written, when the merged form is too big
};

// Load, merge, write: saves are serialised and the file is replaced atomically, so two
// overlapping saves cannot drop each other's members and a load never sees half a file. A
// symbolic link is written through (the link stays), an existing file keeps its mode and a new
// one is created 0600.
SettingsSave save_settings_to(const std::string& path, const json& body);
SettingsSave save_settings(const json& body);

// The written form: two-space indentation, sorted keys, no trailing newline.
std::string settings_text(const json& settings);

}  // namespace loomdeck
