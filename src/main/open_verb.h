#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/process.h"
#include "main/command_line.h"

namespace loomdeck {

// The first port of the range whose /health reply says "ok":true.
std::optional<uint16_t> find_serving_port(ProcessRunner& runner);

// `ovra-bridge [--target <box>] --ai-thread <name> pup_open_window {"background":true,"url":URL}`
std::vector<std::string> pup_open_window_command(const std::optional<std::string>& target,
                                                 const std::string& attribution, const std::string& url);

// `open [--pup | --webview] [--target <box>]`. Returns the exit status.
int run_open(const CommandLine& cli, ProcessRunner& runner, const std::optional<std::string>& proxy_template);

}  // namespace loomdeck
