#pragma once

#include <string>

namespace loomdeck {

// A private folder (mode 0700, from mkdtemp) named "<prefix>XXXXXX" under $TMPDIR (or /tmp),
// removed with its content when this goes out of scope. No other process can guess the name or
// plant files in it, and operations never share one.
class PrivateFolder {
 public:
  explicit PrivateFolder(const std::string& prefix);
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // Empty when no folder could be made; error() then says why.
  const std::string& path() const { return path_; }
  const std::string& error() const { return error_; }

 private:
  std::string path_;
  std::string error_;
};

}  // namespace loomdeck
