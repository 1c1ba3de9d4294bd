#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/private_folder.h"
#include "core/process.h"

namespace loomdeck {

// Whether a cloned file's name may be named to the box: ASCII letters, digits, space and
// "._()+-" only, not starting with "." (so no path separators, drive colons or hidden files).
bool plain_file_name(std::string_view name);

// A clone still running after this is stopped and leaves nothing behind, like an unknown page.
inline constexpr std::chrono::milliseconds kWikiCloneTimeLimit = std::chrono::minutes(5);

// Whether a page reference may be handed to ovra-wiki: it must not read as an option, carry
// control characters, or name "." / ".." segments that would step outside the wiki's tree.
bool passable_page_reference(std::string_view page);

// Runs `ovra-wiki clone <page> --dir <dir>`, whose output and exit status say nothing we use: an
// unknown page, or a reference that is not passable, leaves no files. A clone stopped at its time
// limit leaves none either, and says so. A reference longer than the kernel takes as one argument
// is not run at all.
enum class CloneOutcome { kDone, kNotRunnable, kTimedOut, kTooLong };
CloneOutcome clone_page(ProcessRunner& runner, const std::string& page, const std::string& dir);

// The sentence for a clone stopped at its time limit.
std::string clone_timed_out(const std::string& page);

// The sentence and the hint for a page reference too long to be passed to ovra-wiki.
std::string page_too_long(std::size_t bytes);
inline constexpr std::string_view kPageTooLongHint =
    "Wiki page names are short (owner/slug, as in the wiki's address); check the name that was sent.";

// The names of the regular files directly in `dir`, in listing order. Symbolic links and
// directories are left out, so nothing outside the clone is ever sent to a box; an unreadable
// directory lists nothing.
std::vector<std::string> list_clone_files(const std::string& dir);

// What the surfaces stage: the last name ending in ".lbr" and the last ending in ".step" or ".stp",
// compared in lower case. Names that are not plain file names are skipped.
struct StagingFiles {
  std::optional<std::string> library;
  std::optional<std::string> model;
};
StagingFiles pick_staging_files(const std::vector<std::string>& names);

// What the import opens: the first name whose extension is exactly ".lbr" (case-sensitive).
// Names that are not plain file names are skipped.
std::optional<std::string> first_library_file(const std::vector<std::string>& names);

// The file name up to its last "." (the whole name when it has none).
std::string deviceset_of(const std::string& file_name);

}  // namespace loomdeck
