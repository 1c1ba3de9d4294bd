#include <string>
#include <vector>

#include "main/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  return loomdeck::run_command_line(loomdeck::parse_command_line(std::move(args)));
}
