// Real speech for the ovra-tts stand-in: espeak-ng speaks the text into a WAV file and lame
// encodes it as the same MP3 kind as the tour's narration clips (24 kHz mono, 48 kbit/s).
#pragma once

#include <string>
#include <vector>

#include "tts.h"

namespace sim {

// The text travels in a file, so no text can ever be read as an option of either program.
std::vector<std::string> espeak_argv(const std::string& text_file, const std::string& wav);
std::vector<std::string> lame_argv(const std::string& wav, const std::string& mp3);

// Runs both programs in a scratch folder (each with a time limit) and returns the MP3, or why
// there is none: a program missing, failing or too slow.
Speech speak_with_espeak(const std::string& text);

}  // namespace sim
