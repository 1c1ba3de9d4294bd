// ovra-tts stand-in: speaks the text into an MP3 with espeak-ng and lame, or writes a silent one
// where those are missing.
#include "emit.h"
#include "speak.h"
#include "tts.h"

int main(int argc, char** argv) {
  sim::SystemClock clock;
  sim::Store store(sim::sim_dir_from_env());
  auto args = sim::arguments(argc, argv);
  auto start = sim::start_program("ovra-tts", args, store, clock);
  if (start.replaced) return sim::emit(start.result);
  return sim::emit(sim::finish_program(start, sim::tts_command(args, sim::speak_with_espeak)));
}
