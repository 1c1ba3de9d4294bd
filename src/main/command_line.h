#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace loomdeck {

struct CommandLine {
  std::string verb;         // the first argument after the program name, "help" when none
  std::string attribution;  // --ai-thread, "loomdeck" by default
  std::optional<uint16_t> port;
  std::vector<std::string> args;  // the whole vector, program name included
};

// The element right after the first one equal to `name`; absent when `name` is missing or last.
std::optional<std::string> option_value(const std::vector<std::string>& args, std::string_view name);
bool has_flag(const std::vector<std::string>& args, std::string_view name);
// A decimal u16 with an optional leading "+"; anything else is absent.
std::optional<uint16_t> parse_port(std::string_view text);

CommandLine parse_command_line(std::vector<std::string> args);

// False, after saying why on standard error, when --target names a box that must not reach the bridge.
bool target_option_usable(const std::vector<std::string>& args);

// "OK: text" on standard output.
void say_ok(std::string_view text);
// "ERROR: message" and "Hint: hint" on standard error; the caller picks the exit status.
void fail(std::string_view message, std::string_view hint);

}  // namespace loomdeck
