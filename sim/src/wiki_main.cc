// ovra-wiki stand-in: clones a parts-wiki page's published files from the simulator's fixtures.
#include "emit.h"
#include "wiki.h"

int main(int argc, char** argv) {
  sim::SystemClock clock;
  sim::Store store(sim::sim_dir_from_env());
  auto args = sim::arguments(argc, argv);
  auto start = sim::start_program("ovra-wiki", args, store, clock);
  if (start.replaced) return sim::emit(start.result);
  return sim::emit(sim::finish_program(start, sim::wiki_command(args, sim::wiki_fixtures_dir())));
}
