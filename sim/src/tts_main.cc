// ovra-tts stand-in: writes a silent MP3 of a length that suits the text.
#include "emit.h"
#include "tts.h"

int main(int argc, char** argv) {
  sim::SystemClock clock;
  sim::Store store(sim::sim_dir_from_env());
  auto args = sim::arguments(argc, argv);
  auto start = sim::start_program("ovra-tts", args, store, clock);
  if (start.replaced) return sim::emit(start.result);
  return sim::emit(sim::finish_program(start, sim::tts_command(args)));
}
