#include "tour/tts_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <tuple>
#include <vector>

namespace loomdeck {

namespace fs = std::filesystem;

namespace {

bool is_cache_name(const std::string& name) {
  if (name.size() != 20 || !name.ends_with(".mp3")) return false;
  return std::all_of(name.begin(), name.begin() + 16,
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

fs::path tts_cache_dir(const char* tmpdir, uid_t uid) {
  const fs::path base = tmpdir && *tmpdir ? tmpdir : "/tmp";
  return base / ("loomdeck-tts-" + std::to_string(uid));
}

std::optional<std::string> private_dir_problem(const fs::path& dir, uid_t owner) {
  std::error_code ec;
  fs::create_directories(dir.parent_path(), ec);
  ::mkdir(dir.c_str(), 0700);
  struct stat st {};
  const std::string where = "the speech cache folder " + dir.string();
  if (::lstat(dir.c_str(), &st) != 0) return where + " cannot be created (" + std::strerror(errno) + ")";
  if (S_ISLNK(st.st_mode)) return where + " is a symbolic link, not a folder of its own";
  if (!S_ISDIR(st.st_mode)) return where + " is not a folder";
  if (st.st_uid != owner) return where + " belongs to another user";
  if ((st.st_mode & 077) != 0) return where + " is open to other users (it must be mode 0700)";
  return std::nullopt;
}

std::optional<std::string> read_cache_file(const fs::path& file, std::uintmax_t max_bytes) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<std::string> bytes;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
      static_cast<std::uintmax_t>(st.st_size) <= max_bytes) {
    std::string data(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    if (done == data.size()) bytes = std::move(data);
  }
  ::close(fd);
  return bytes;
}

bool store_cache_file(const fs::path& scratch, const fs::path& file, std::uintmax_t max_bytes) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(scratch, ec);
  const std::uintmax_t size = fs::is_regular_file(status) ? fs::file_size(scratch, ec) : 0;
  const bool usable = !ec && size > 0 && size <= max_bytes;
  if (usable) fs::rename(scratch, file, ec);
  std::error_code ignored;
  fs::remove(scratch, ignored);
  return usable && !ec;
}

void prune_cache(const fs::path& dir, std::uintmax_t max_bytes, const fs::path& keep) {
  std::vector<std::tuple<fs::file_time_type, std::uintmax_t, fs::path>> files;
  std::uintmax_t total = 0;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code entry_ec;
    if (!is_cache_name(it->path().filename().string()) || !fs::is_regular_file(it->symlink_status(entry_ec))) continue;
    const std::uintmax_t size = it->file_size(entry_ec);
    const fs::file_time_type written = it->last_write_time(entry_ec);
    if (entry_ec) continue;
    total += size;
    files.emplace_back(written, size, it->path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& [written, size, path] : files) {
    if (total <= max_bytes) break;
    if (path == keep) continue;
    std::error_code ignored;
    if (fs::remove(path, ignored)) total -= size;
  }
}

}  // namespace loomdeck
