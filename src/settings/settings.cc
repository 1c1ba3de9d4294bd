#include "settings/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>

#include "core/user_home.h"
#include "core/utf8.h"

namespace loomdeck {

namespace {

bool write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The file a save writes: the path itself or, when that is a symbolic link (a settings file kept
// elsewhere, say in a dotfiles repository), the file the links finally lead to, so the link stays.
std::filesystem::path write_target(const std::filesystem::path& path) {
  std::filesystem::path p = path;
  for (int hop = 0; hop < 40; ++hop) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(p, ec))) return p;
    const std::filesystem::path next = std::filesystem::read_symlink(p, ec);
    if (ec) return p;
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  return p;
}

// Writes a sibling temporary file and renames it over the target. The file keeps the mode it had;
// a new one is private to the user (0600). Errors are ignored: a failed save leaves the previous
// file whole.
void replace_file(const std::filesystem::path& target, const std::string& text) {
  static std::atomic<unsigned> counter{0};
  const std::string path = target.string();
  const std::string tmp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
  struct stat existing {};
  // Only the user's own file keeps its mode, and never with write for the group or others.
  const mode_t mode =
      ::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) && existing.st_uid == ::geteuid()
          ? existing.st_mode & 0755
          : 0600;
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, text);
  ::close(fd);
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) ::unlink(tmp.c_str());
}

}  // namespace

json load_settings_from(const std::string& path) {
  json settings = json::object();
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::ostringstream text;
    text << in.rdbuf();
    if (auto parsed = parse_json(text.str()); parsed && parsed->is_object()) settings = std::move(*parsed);
  }
  if (!settings.contains("autoGreenOnLaunch")) settings["autoGreenOnLaunch"] = true;
  if (!settings.contains("demoPart")) settings["demoPart"] = kDefaultDemoPart;
  return settings;
}

json merge_settings(json current, const json& body) {
  if (body.is_object()) {
    for (auto it = body.begin(); it != body.end(); ++it) current[it.key()] = it.value();
  }
  return current;
}

std::string settings_text(const json& settings) { return dump_pretty(settings); }

SettingsSave save_settings_to(const std::string& path, const json& body) {
  json merged = merge_settings(load_settings_from(path), body);
  const std::string text = settings_text(merged);
  if (text.size() > kMaxSettingsBytes) {
    return {std::move(merged),
            "the settings would take " + std::to_string(text.size()) +
                " bytes, more than the 64 KiB they may hold - nothing was saved",
            "Store less in the dashboard settings: a member is kept until it is overwritten, so send a large one as "
            "null to free its room."};
  }
  replace_file(write_target(path), text);
  return {std::move(merged), std::nullopt, ""};
}

bool SettingsStore::FileIdentity::operator==(const FileIdentity& o) const {
  return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
         modified.tv_nsec == o.modified.tv_nsec;
}

json SettingsStore::load() const {
  // A folder that is not the user's own is never read: the defaults hold.
  const OwnFolder folder = ovra_folder_in(home_, "loomdeck");
  if (!folder.usable()) return load_settings_from("");
  const std::string path = folder.path + "/settings.json";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return load_settings_from(path);
  const FileIdentity identity{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
  // File times are coarse (a tick of the kernel's clock): two writes of one size within a tick
  // look alike, so a file changed in the last two seconds is always read again.
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const bool settled = now.tv_sec - st.st_mtim.tv_sec > 2;
  if (settled) {
    std::lock_guard<std::mutex> lock(loaded_mutex_);
    if (loaded_identity_ == identity) return loaded_;
  }
  json loaded = load_settings_from(path);
  std::lock_guard<std::mutex> lock(loaded_mutex_);
  loaded_identity_ = identity;
  loaded_ = loaded;
  return loaded;
}

SettingsSave SettingsStore::save(const json& body) {
  const OwnFolder folder = ovra_folder_in(home_, "loomdeck");
  if (!folder.usable())
    return {merge_settings(load_settings_from(""), body), folder.problem + " - nothing was saved", folder.hint};
  std::lock_guard<std::mutex> lock(save_mutex_);
  return save_settings_to(folder.path + "/settings.json", body);
}

}  // namespace loomdeck
