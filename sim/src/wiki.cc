#include "wiki.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

namespace sim {

namespace {
const char* kWikiUsage = "usage: ovra-wiki clone <owner/slug> --dir <dir>\n";

bool valid_segment(const std::string& s) {
  if (s.empty() || s.size() > 100 || s[0] == '-') return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
  }) && s.find("..") == std::string::npos;
}
}  // namespace

std::string wiki_fixtures_dir() {
  if (const char* d = std::getenv("OVRA_WIKI_FIXTURES"); d && *d) return d;
  return SIM_WIKI_FIXTURES;
}

bool valid_page_ref(const std::string& page) {
  size_t slash = page.find('/');
  if (slash == std::string::npos) return false;
  return valid_segment(page.substr(0, slash)) && valid_segment(page.substr(slash + 1));
}

RunResult wiki_command(const std::vector<std::string>& args, const std::string& fixtures) {
  if (args.size() != 4 || args[0] != "clone" || args[2] != "--dir" || args[3].empty()) return {"", kWikiUsage, 2, 0, false};
  const std::string& page = args[1];
  const std::string& dir = args[3];
  if (!valid_page_ref(page)) return {"", "ovra-wiki: not a page reference (owner/slug): " + to_valid_utf8(page) + "\n", 1, 0, false};
  std::string source = fixtures + "/" + page;
  DIR* d = ::opendir(source.c_str());
  if (!d) return {"", "ovra-wiki: no published files for " + page + " (page not found)\n", 1, 0, false};
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    std::string leaf = e->d_name;
    struct stat st{};
    if (leaf[0] != '.' && ::stat((source + "/" + leaf).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(leaf);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  if (!make_dirs(dir)) return {"", "ovra-wiki: cannot create " + to_valid_utf8(dir) + "\n", 1, 0, false};
  for (const auto& n : names) {
    auto bytes = read_file(source + "/" + n);
    if (!bytes || !write_atomic(dir + "/" + n, *bytes))
      return {"", "ovra-wiki: could not write " + n + " into " + to_valid_utf8(dir) + "\n", 1, 0, false};
  }
  std::string list;
  for (const auto& n : names) list += (list.empty() ? "" : ", ") + n;
  return {"cloned " + page + " into " + to_valid_utf8(dir) + " (" + std::to_string(names.size()) + " files: " + list + ")\n", "", 0, 0, false};
}

}  // namespace sim
