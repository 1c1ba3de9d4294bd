#include "logbook/logbook_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "core/utf8.h"

namespace loomdeck {

namespace {

// Up to the last `max_bytes` of the file; when cut, the partial first line is dropped.
std::string read_tail(const std::string& path, std::size_t max_bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return {};
  std::string text;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    const auto size = static_cast<std::size_t>(st.st_size);
    const std::size_t from = size > max_bytes ? size - max_bytes : 0;
    text.resize(size - from);
    std::size_t got = 0;
    while (got < text.size()) {
      const ssize_t n = ::pread(fd, text.data() + got, text.size() - got, static_cast<off_t>(from + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    if (from > 0) {
      const std::size_t newline = text.find('\n');
      text.erase(0, newline == std::string::npos ? text.size() : newline + 1);
    }
  }
  ::close(fd);
  return text;
}

void entries_of(const std::string& text, std::vector<json>& into) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    // A last line without its newline is a write that did not finish.
    if (end == std::string::npos) break;
    std::optional<json> entry = parse_json(lenient_utf8(std::string_view(text).substr(start, end - start)));
    start = end + 1;
    if (!entry || !entry->is_object()) continue;
    into.push_back(std::move(*entry));
  }
}

}  // namespace

LogbookFile::LogbookFile(std::string path, std::size_t rotate_bytes)
    : path_(std::move(path)), rotate_bytes_(rotate_bytes) {}

bool LogbookFile::append(const json& entry) {
  std::string line = dump_compact(entry) + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0 && st.st_size > 0 &&
      static_cast<std::size_t>(st.st_size) + line.size() > rotate_bytes_) {
    ::rename(path_.c_str(), (path_ + ".1").c_str());
  }
  const int fd = ::open(path_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  // A line torn by a crash mid-write gets its end, so this entry starts a line of its own.
  char last = '\n';
  if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') {
    line.insert(line.begin(), '\n');
  }
  ssize_t n;
  do {
    n = ::write(fd, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n == static_cast<ssize_t>(line.size());
}

std::vector<json> LogbookFile::load() const {
  std::vector<json> entries;
  entries_of(read_tail(path_ + ".1", kLogbookReadBytes), entries);
  entries_of(read_tail(path_, kLogbookReadBytes), entries);
  return entries;
}

}  // namespace loomdeck
