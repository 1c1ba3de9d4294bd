#include "tour/tts.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "core/text.h"
#include "http/response.h"
#include "tour/mp3_frames.h"
#include "tour/tts_cache.h"

namespace loomdeck {

namespace {

// A name next to the cache file that no other synthesis in any process uses at the same time.
std::filesystem::path scratch_path(const std::filesystem::path& cache_file) {
  static std::atomic<unsigned long> counter{0};
  std::filesystem::path p = cache_file;
  p.replace_extension("." + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".part.mp3");
  return p;
}

// Runs ovra-tts into a scratch file and moves the result into the cache only when it holds
// audio, so a failed or half-finished synthesis never becomes the cached answer for the text
// and a concurrent reader never sees a file that is still being written. The oldest files then
// make room, so the cache stays within its bound.
void synthesise(ProcessRunner& runner, const std::string& text, const std::filesystem::path& cache_file) {
  const std::filesystem::path scratch = scratch_path(cache_file);
  ProcessOptions options;
  options.stdout_mode = OutputMode::kDiscard;
  options.stderr_mode = OutputMode::kDiscard;
  options.time_limit = kTtsTimeLimit;
  runner.run(tts_command(scratch.string(), text), options);
  if (store_cache_file(scratch, cache_file, kTtsCacheMaxBytes)) {
    prune_cache(cache_file.parent_path(), kTtsCacheMaxBytes, cache_file);
  }
}

// The cached clip for a text when it is a whole MP3; a cut or garbled one is removed, so it is
// synthesised again rather than served.
std::optional<std::string> whole_cached_clip(const std::filesystem::path& cache_file) {
  std::optional<std::string> audio = read_cache_file(cache_file, kTtsCacheMaxBytes);
  if (audio && whole_mp3(*audio)) return audio;
  if (audio) {
    std::error_code ignored;
    std::filesystem::remove(cache_file, ignored);
  }
  return std::nullopt;
}

void refuse(Stream& stream, std::string_view why) { send_json(stream, json{{"ok", false}, {"why", why}}); }

}  // namespace

std::optional<std::string> tts_text(std::string_view query) {
  const std::optional<std::string_view> raw = raw_query_param(query, "text");
  if (!raw) return std::nullopt;
  std::string text = decode_query_value(*raw);
  if (text.empty() || text.size() > kTtsMaxTextBytes) return std::nullopt;
  return text;
}

std::uint64_t tts_hash(std::string_view text) {
  std::uint64_t h = 0x14650FB0739D0383ULL;
  for (const char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001B3ULL;
  }
  return h;
}

std::string tts_file_name(std::string_view text) {
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.mp3", static_cast<unsigned long long>(tts_hash(text)));
  return name;
}

std::vector<std::string> tts_command(const std::string& out_path, const std::string& text) {
  return {"ovra-tts", "say", "--out", out_path, text.starts_with('-') ? " " + text : text};
}

void serve_tts(Stream& stream, ProcessRunner& runner, TtsFlights& flights, std::string_view query,
               const std::filesystem::path& cache_dir, uid_t owner) {
  const std::optional<std::string> text = tts_text(query);
  if (!text) {
    refuse(stream, kTtsTextRequired);
    return;
  }
  if (const std::optional<std::string> problem = private_dir_problem(cache_dir, owner)) {
    refuse(stream, *problem + " - remove it, or point TMPDIR elsewhere, and try again");
    return;
  }
  const std::filesystem::path cache_file = cache_dir / tts_file_name(*text);
  std::optional<std::string> audio = whole_cached_clip(cache_file);
  if (!audio) {
    // A synthesis that ended between the look above and this one has left its clip behind.
    const std::optional<bool> ran = flights.run(cache_file.filename().string(), [&] {
      if (!whole_cached_clip(cache_file)) synthesise(runner, *text, cache_file);
      return true;
    });
    if (!ran) {
      refuse(stream, kTtsBusy);
      return;
    }
    audio = whole_cached_clip(cache_file);
  }
  if (!audio) {
    refuse(stream, kTtsFailed);
    return;
  }
  respond(stream, "200 OK", "audio/mpeg", *audio);
}

void handle_tts(ProcessRunner& runner, TtsFlights& flights, const Request& request, Stream& stream) {
  const uid_t uid = ::geteuid();
  serve_tts(stream, runner, flights, request.query, tts_cache_dir(std::getenv("TMPDIR"), uid), uid);
}

}  // namespace loomdeck
