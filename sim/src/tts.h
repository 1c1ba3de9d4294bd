// ovra-tts stand-in: `say --out <path> <text>` speaks the text into an MP3 file, or writes a
// silent one of a length that suits the text where speaking is not possible.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app.h"

namespace sim {

// One MPEG-2 Layer III frame (24 kHz, mono, 48 kbit/s, no CRC): 144 bytes, 24 ms of silence.
std::string silent_mp3_frame();
// About a third of a second per word, between one second and one minute.
size_t frames_for_text(const std::string& text);
std::string silent_mp3(const std::string& text);

// What a synthesis produced: the MP3 bytes, or why there are none.
struct Speech {
  std::optional<std::string> mp3;
  std::string why;
};
using Speaker = std::function<Speech(const std::string& text)>;

// Reads the command line and writes the speaker's MP3, falling back to silence with a note on
// standard error. Only the four arguments of the tool's contract are accepted: like a strict
// real tool, a text that begins with "-" is an unknown option.
RunResult tts_command(const std::vector<std::string>& args, const Speaker& speak);

}  // namespace sim
