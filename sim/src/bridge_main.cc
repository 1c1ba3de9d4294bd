// ovra-bridge stand-in: serves the bridge's tools from simulated boxes kept under $OVRA_SIM_DIR.
#include <csignal>

#include "emit.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  sim::SystemClock clock;
  sim::Store store(sim::sim_dir_from_env());
  return sim::emit(sim::bridge_command(sim::arguments(argc, argv), store, clock));
}
