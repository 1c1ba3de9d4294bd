#include "main/command_line.h"

#include <iostream>

#include "core/box_name.h"
#include "core/text.h"

namespace loomdeck {

std::optional<std::string> option_value(const std::vector<std::string>& args, std::string_view name) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      if (i + 1 < args.size()) return args[i + 1];
      return std::nullopt;
    }
  }
  return std::nullopt;
}

bool has_flag(const std::vector<std::string>& args, std::string_view name) {
  for (const std::string& a : args) {
    if (a == name) return true;
  }
  return false;
}

std::optional<uint16_t> parse_port(std::string_view text) {
  const auto value = parse_unsigned(text);
  if (!value || *value > 65535) return std::nullopt;
  return static_cast<uint16_t>(*value);
}

CommandLine parse_command_line(std::vector<std::string> args) {
  CommandLine cli;
  cli.verb = args.size() > 1 ? args[1] : "help";
  cli.attribution = option_value(args, "--ai-thread").value_or("loomdeck");
  if (const auto p = option_value(args, "--port")) cli.port = parse_port(*p);
  cli.args = std::move(args);
  return cli;
}

bool target_option_usable(const std::vector<std::string>& args) {
  const std::optional<std::string> target = option_value(args, "--target");
  const std::optional<std::string> problem = target ? box_name_problem(*target) : std::nullopt;
  if (problem) fail(*problem, "Name a box as `ovra-bridge targets` lists it.");
  return !problem;
}

void say_ok(std::string_view text) { std::cout << "OK: " << text << '\n' << std::flush; }

void fail(std::string_view message, std::string_view hint) {
  std::cerr << "ERROR: " << message << '\n' << "Hint: " << hint << '\n' << std::flush;
}

}  // namespace loomdeck
