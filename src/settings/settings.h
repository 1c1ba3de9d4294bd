#pragma once

#include <sys/stat.h>
#include <time.h>

#include <mutex>
#include <optional>
#include <string>

#include "core/json_text.h"

namespace loomdeck {

inline constexpr const char* kDefaultDemoPart = "tolm/in-s63btg";

// The stored object completed with the two defaults. Missing, unreadable, unparsable or
// non-object files read as an empty object. Never writes.
json load_settings_from(const std::string& path);

// Copies the members of `body` (when it is an object) over `current`; nothing is removed.
json merge_settings(json current, const json& body);

// The written form may not grow past this; every page load and status build parses it.
inline constexpr std::size_t kMaxSettingsBytes = std::size_t{64} * 1024;

struct SettingsSave {
  json settings;  // the merged settings
  std::optional<std::string>
      refused;       // why nothing was written: the merged form is too big, or the folder is not the user's own
  std::string hint;  // what to do about it
};

// Load, merge, write: the file is replaced atomically, so a load never sees half a file; the
// caller serialises saves (the store does), so two cannot drop each other's members. A
// symbolic link is written through (the link stays), an existing file of the user's keeps its
// mode without group or other write, and any other file is written 0600.
SettingsSave save_settings_to(const std::string& path, const json& body);

// The written form: two-space indentation, sorted keys, no trailing newline.
std::string settings_text(const json& settings);

// The dashboard's settings file, ~/.ovra/loomdeck/settings.json in the home resolved at start-up
// (none: the defaults hold and nothing is saved). Every use checks that the folders are still the
// user's own (ovra_folder): one that is not is never read nor written.
class SettingsStore {
 public:
  explicit SettingsStore(std::optional<std::string> home) : home_(std::move(home)) {}
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // load_settings_from the file; a stat instead of a read and a parse while it has not changed.
  json load() const;
  // save_settings_to the file, or why nothing was written.
  SettingsSave save(const json& body);

 private:
  // Which file a load read: another path, a replaced file (saves rename a new one in) or a changed
  // one reads again.
  struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    bool operator==(const FileIdentity& o) const;
  };

  const std::optional<std::string> home_;
  std::mutex save_mutex_;
  mutable std::mutex loaded_mutex_;
  mutable std::optional<FileIdentity> loaded_identity_;
  mutable json loaded_;
};

}  // namespace loomdeck
