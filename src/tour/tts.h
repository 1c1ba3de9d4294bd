#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/process.h"
#include "core/single_flight.h"
#include "http/request.h"
#include "http/stream.h"

namespace loomdeck {

inline constexpr std::size_t kTtsMaxTextBytes = 1200;
// A synthesis still running after this is stopped and counts as failed.
inline constexpr std::chrono::milliseconds kTtsTimeLimit = std::chrono::minutes(2);

// At most this many syntheses run at once; a request finding them all busy waits this long for one.
inline constexpr std::size_t kTtsMaxRunning = 2;
inline constexpr std::chrono::milliseconds kTtsSlotWait = std::chrono::seconds(30);

// One synthesis per cache file at a time: a request for a text being spoken waits for that
// synthesis and serves its file.
using TtsFlights = SingleFlight<bool>;

inline constexpr std::string_view kTtsTextRequired = "text required (<=1200 chars)";
inline constexpr std::string_view kTtsFailed =
    "ovra-tts synthesis failed (is ovra-tts installed and the tts service reachable?)";
inline constexpr std::string_view kTtsBusy = "speech is busy with 2 other texts; try again in a few seconds";
static_assert(kTtsMaxRunning == 2, "kTtsBusy names the number of syntheses at once");

// The text to speak from a request query, or nothing when it is missing, empty or longer
// than kTtsMaxTextBytes UTF-8 bytes once decoded.
std::optional<std::string> tts_text(std::string_view query);

// FNV-1a over the text's bytes, from this cache's own start value.
std::uint64_t tts_hash(std::string_view text);

// "<16 lower-case hex digits>.mp3": the same text always names the same cache file.
std::string tts_file_name(std::string_view text);

// The synthesis command `ovra-tts say --out <file> <text>`, the four arguments the tool promises to
// accept. A text that begins with "-" gets one leading space, so it can never read as an option;
// the space changes nothing that is spoken.
std::vector<std::string> tts_command(const std::string& out_path, const std::string& text);

// Answers one speech request: the cached MP3, synthesising it first when the cache has no whole
// clip for the text (a cut one is removed). The cache folder must be private to `owner` (see
// private_dir_problem).
void serve_tts(Stream& stream, ProcessRunner& runner, TtsFlights& flights, std::string_view query,
               const std::filesystem::path& cache_dir, uid_t owner);

// GET /api/tts?text=<text>
void handle_tts(ProcessRunner& runner, TtsFlights& flights, const Request& request, Stream& stream);

}  // namespace loomdeck
