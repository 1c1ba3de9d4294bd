#include <csignal>
#include <string>
#include <vector>

#include "core/process.h"
#include "main/cli.h"

int main(int argc, char** argv) {
  // A reader that went away (`loomdeck status | head -c1`, a client that hung up) must come
  // back as a failed write, never end the process: a verb's output then simply ends there.
  std::signal(SIGPIPE, SIG_IGN);
  loomdeck::end_children_with_us();
  std::vector<std::string> args(argv, argv + argc);
  return loomdeck::run_command_line(loomdeck::parse_command_line(std::move(args)));
}
