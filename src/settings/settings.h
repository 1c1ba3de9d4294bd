#pragma once

#include <optional>
#include <string>

#include "core/json_text.h"

namespace loomdeck {

inline constexpr const char* kDefaultDemoPart = "tolm/in-s63btg";

// ~/.ovra/loomdeck/settings.json, the folder made when missing; nothing when that folder may
// not be used (see ovra_folder).
std::optional<std::string> settings_path();

// The stored object completed with the two defaults. Missing, unreadable, unparsable or
// non-object files read as an empty object. Never writes.
json load_settings_from(const std::string& path);
json load_settings();

// Copies the members of `body` (when it is an object) over `current`; nothing is removed.
json merge_settings(json current, const json& body);

// The written form may not grow past this; every page load and status build parses it.
inline constexpr std::size_t kMaxSettingsBytes = std::size_t{64} * 1024;

struct SettingsSave {
  json settings;                       // the merged settings
  std::optional<std::string> refused;  // why nothing was written: the merged form is too big, or the folder is not the user's own
  std::string hint;                    // what to do about it
};

// Load, merge, write: saves are serialised and the file is replaced atomically, so two
// overlapping saves cannot drop each other's members and a load never sees half a file. A
// symbolic link is written through (the link stays), an existing file of the user's keeps its
// mode without group or other write, and any other file is written 0600.
SettingsSave save_settings_to(const std::string& path, const json& body);
SettingsSave save_settings(const json& body);

// The written form: two-space indentation, sorted keys, no trailing newline.
std::string settings_text(const json& settings);

}  // namespace loomdeck
