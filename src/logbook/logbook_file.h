#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/json_text.h"

namespace loomdeck {

// The file is moved aside to "<path>.1" (replacing the previous one) before it would grow past this.
inline constexpr std::size_t kLogbookRotateBytes = 1048576;
// At start-up no more than this is read from the end of each of the two files.
inline constexpr std::size_t kLogbookReadBytes = 2 * kLogbookRotateBytes;

// The logbook's JSON-lines file. Each entry is one line appended with a single write(2) on a
// descriptor opened with O_APPEND, so two servers sharing the file never interleave inside a line.
class LogbookFile {
 public:
  explicit LogbookFile(std::string path, std::size_t rotate_bytes = kLogbookRotateBytes);

  // Appends one entry as a line; false when the file could not be written (the entry stays in memory).
  bool append(const json& entry);

  // The entries of the previous and the current file (no more than the last kLogbookReadBytes of
  // each), oldest first. Lines that are not a JSON object (a line torn by a crash mid-write) are skipped.
  std::vector<json> load() const;

  const std::string& path() const { return path_; }

 private:
  const std::string path_;
  const std::size_t rotate_bytes_;
  std::mutex mutex_;  // one rotation decision and write at a time within this process
};

}  // namespace loomdeck
