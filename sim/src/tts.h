// ovra-tts stand-in: `say --out <path> <text>` writes a short, silent but valid MP3.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app.h"

namespace sim {

// One MPEG-2 Layer III frame (24 kHz, mono, 48 kbit/s, no CRC): 144 bytes, 24 ms of silence.
std::string silent_mp3_frame();
// About a third of a second per word, between one second and one minute.
size_t frames_for_text(const std::string& text);
RunResult tts_command(std::vector<std::string> args);

}  // namespace sim
