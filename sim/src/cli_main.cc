// ovra-cli stand-in: records its arguments in the simulator's activity log and succeeds.
#include "emit.h"

int main(int argc, char** argv) {
  sim::SystemClock clock;
  sim::Store store(sim::sim_dir_from_env());
  auto start = sim::start_program("ovra-cli", sim::arguments(argc, argv), store, clock);
  if (start.replaced) return sim::emit(start.result);
  return sim::emit(sim::finish_program(start, {}));
}
