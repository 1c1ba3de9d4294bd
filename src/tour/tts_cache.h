#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace loomdeck {

// All cache files together; past it the oldest go first.
inline constexpr std::uintmax_t kTtsCacheMaxBytes = 200u << 20;

// $TMPDIR/loomdeck-tts-<uid>, with "/tmp" for an unset or empty TMPDIR: one folder per user, so
// no other user's folder is ever taken for ours.
std::filesystem::path tts_cache_dir(const char* tmpdir, uid_t uid);

// Creates the folder with mode 0700 when it is missing. Nothing when it is a private folder of
// `owner`; otherwise the reason it must not be used (a link, not a folder, another user's, or open
// to others), since whoever else can write there could plant links to any of the user's files.
std::optional<std::string> private_dir_problem(const std::filesystem::path& dir, uid_t owner);

// The bytes of a cache file, opened without following a symbolic link; nothing unless it is a
// regular file holding 1 to `max_bytes` bytes.
std::optional<std::string> read_cache_file(const std::filesystem::path& file, std::uintmax_t max_bytes);

// Renames a finished synthesis over the cache file when it is a regular file holding 1 to
// `max_bytes` bytes; the scratch file is gone afterwards either way. True when stored.
bool store_cache_file(const std::filesystem::path& scratch, const std::filesystem::path& file,
                      std::uintmax_t max_bytes);

// Removes cache files ("<16 hex digits>.mp3"), oldest first, until those left take at most
// `max_bytes`; `keep` (the file just made) is never removed.
void prune_cache(const std::filesystem::path& dir, std::uintmax_t max_bytes, const std::filesystem::path& keep);

}  // namespace loomdeck
