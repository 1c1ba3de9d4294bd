#include "settings/settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "core/utf8.h"

namespace loomdeck {

namespace {

std::mutex g_save_mutex;

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

// Writes a sibling temporary file and renames it over the target. Errors are ignored: a failed
// save leaves the previous file whole.
void replace_file(const std::string& path, const std::string& text) {
  static std::atomic<unsigned> counter{0};
  const std::string tmp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return;
  const bool ok = write_all(fd, text);
  ::close(fd);
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) ::unlink(tmp.c_str());
}

}  // namespace

std::string settings_path_for_home(const std::optional<std::string>& home) {
  const std::filesystem::path dir = std::filesystem::path(home.value_or("/tmp")) / ".ovra" / "loomdeck";
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  return (dir / "settings.json").string();
}

std::string settings_path() {
  const char* home = std::getenv("HOME");
  std::optional<std::string> value;
  if (home && lenient_utf8(home) == home) value = home;
  return settings_path_for_home(value);
}

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

json load_settings() { return load_settings_from(settings_path()); }

json merge_settings(json current, const json& body) {
  if (body.is_object()) {
    for (auto it = body.begin(); it != body.end(); ++it) current[it.key()] = it.value();
  }
  return current;
}

std::string settings_text(const json& settings) { return dump_pretty(settings); }

json save_settings_to(const std::string& path, const json& body) {
  std::lock_guard<std::mutex> lock(g_save_mutex);
  json merged = merge_settings(load_settings_from(path), body);
  replace_file(path, settings_text(merged));
  return merged;
}

json save_settings(const json& body) { return save_settings_to(settings_path(), body); }

}  // namespace loomdeck
