#include "core/private_folder.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/utf8.h"

namespace loomdeck {

PrivateFolder::PrivateFolder(const std::string& prefix) {
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string base = tmpdir && *tmpdir ? tmpdir : "/tmp";
  std::string pattern = base + "/" + prefix + "XXXXXX";
  if (::mkdtemp(pattern.data())) {
    path_ = pattern;
  } else {
    error_ = "could not make a private folder under " + lenient_utf8(base) + ": " + std::strerror(errno);
  }
}

PrivateFolder::~PrivateFolder() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace loomdeck
