#pragma once

#include <optional>
#include <string_view>

#include "main/command_line.h"

namespace loomdeck {

// Whether an argument after the verb is -h or --help: the verb then only prints its help.
bool asks_for_help(const CommandLine& cli);

// A verb's help text, or nothing for a word that is not a verb.
std::optional<std::string_view> verb_help(std::string_view verb);

}  // namespace loomdeck
