#include "tts.h"

#include <algorithm>
#include <sstream>

#include "json_io.h"
#include "store.h"

namespace sim {

namespace {
const char* kTtsUsage = "usage: ovra-tts say --out <path.mp3> <text>\n";
constexpr size_t kFramesPerSecond = 42;
}  // namespace

std::string silent_mp3_frame() {
  // Sync, MPEG-2, Layer III, no CRC | 48 kbit/s, 24 kHz, no padding | mono. Zero side info and
  // zero main data decode as silence.
  std::string frame(144, '\0');
  frame[0] = static_cast<char>(0xFF);
  frame[1] = static_cast<char>(0xF3);
  frame[2] = static_cast<char>(0x64);
  frame[3] = static_cast<char>(0xC4);
  return frame;
}

size_t frames_for_text(const std::string& text) {
  std::istringstream words(text);
  size_t count = 0;
  for (std::string w; words >> w;) ++count;
  return std::clamp<size_t>(count * kFramesPerSecond / 3, kFramesPerSecond, 60 * kFramesPerSecond);
}

std::string silent_mp3(const std::string& text) {
  const std::string frame = silent_mp3_frame();
  const size_t n = frames_for_text(text);
  std::string audio;
  audio.reserve(n * frame.size());
  for (size_t i = 0; i < n; ++i) audio += frame;
  return audio;
}

RunResult tts_command(const std::vector<std::string>& args, const Speaker& speak) {
  if (args.size() == 4 && args[0] == "say" && args[1] == "--out" && args[3].starts_with('-'))
    return {"", "ovra-tts: unknown option " + to_valid_utf8(args[3]) + "\n" + kTtsUsage, 2, 0, false};
  if (args.size() != 4 || args[0] != "say" || args[1] != "--out" || args[2].empty()) return {"", kTtsUsage, 2, 0, false};
  const std::string& text = args[3];
  Speech speech = speak(text);
  std::string note;
  if (!speech.mp3 || speech.mp3->empty()) {
    note = "ovra-tts: could not speak (" + speech.why +
           "), so the file is silent; install espeak-ng and lame (scripts/setup.sh does) to hear the text\n";
    speech.mp3 = silent_mp3(text);
  }
  if (!write_atomic(args[2], *speech.mp3)) return {"", note + "ovra-tts: cannot write " + to_valid_utf8(args[2]) + "\n", 1, 0, false};
  return {"", note, 0, 0, false};
}

}  // namespace sim
