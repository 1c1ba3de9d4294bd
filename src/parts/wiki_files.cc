#include "parts/wiki_files.h"

#include <filesystem>
#include <system_error>

#include "core/text.h"
#include "core/utf8.h"

namespace loomdeck {

namespace fs = std::filesystem;

bool plain_file_name(std::string_view name) {
  if (name.empty() || name.front() == '.') return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    std::string_view(" ._()+-").find(c) != std::string_view::npos;
    if (!ok) return false;
  }
  return true;
}

bool passable_page_reference(std::string_view page) {
  if (page.empty() || page.front() == '-') return false;
  for (const unsigned char c : page) {
    if (c < 0x20 || c == 0x7f) return false;
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = page.find('/', start);
    const std::string_view segment = page.substr(start, slash == std::string_view::npos ? slash : slash - start);
    if (segment == "." || segment == "..") return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

CloneOutcome clone_page(ProcessRunner& runner, const std::string& page, const std::string& dir) {
  if (!fits_one_argument(page)) return CloneOutcome::kTooLong;
  if (!passable_page_reference(page)) return CloneOutcome::kDone;
  ProcessOptions options;
  options.capture_limit = 1u << 20;
  options.time_limit = kWikiCloneTimeLimit;
  const ProcessResult r = runner.run({"ovra-wiki", "clone", page, "--dir", dir}, options);
  // Files of a clone stopped half-way may be cut short: none of them is used.
  if (r.timed_out) {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return CloneOutcome::kTimedOut;
  }
  return r.started ? CloneOutcome::kDone : CloneOutcome::kNotRunnable;
}

std::string clone_timed_out(const std::string& page) {
  const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(kWikiCloneTimeLimit).count();
  return "ovra-wiki did not finish cloning " + page + " within " + std::to_string(minutes) + " minutes";
}

std::string page_too_long(std::size_t bytes) {
  return "the wiki page name is " + std::to_string(bytes) + " bytes; ovra-wiki takes at most " +
         std::to_string(kArgumentLimit) + " on its command line";
}

std::vector<std::string> list_clone_files(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code status_ec;
    if (fs::is_regular_file(it->symlink_status(status_ec)) && !status_ec) {
      names.push_back(it->path().filename().string());
    }
  }
  return names;
}

StagingFiles pick_staging_files(const std::vector<std::string>& names) {
  StagingFiles files;
  for (const std::string& name : names) {
    if (!plain_file_name(name)) continue;
    const std::string lower = ascii_lower(name);
    if (lower.ends_with(".lbr")) {
      files.library = name;
    } else if (lower.ends_with(".step") || lower.ends_with(".stp")) {
      files.model = name;
    }
  }
  return files;
}

std::optional<std::string> first_library_file(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (plain_file_name(name) && fs::path(name).extension() == ".lbr") return name;
  }
  return std::nullopt;
}

std::string deviceset_of(const std::string& file_name) {
  const std::size_t dot = file_name.rfind('.');
  return dot == std::string::npos ? file_name : file_name.substr(0, dot);
}

}  // namespace loomdeck
