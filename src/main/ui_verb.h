#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_text.h"
#include "core/process.h"
#include "main/command_line.h"

namespace loomdeck {

inline constexpr std::string_view kNoServerAnswering = "no loomdeck server answering on 8930-8940";

// How long one request to the running server may take, unless its caller allows longer.
inline constexpr std::chrono::seconds kUiRequestLimit{60};

// The curl command for one request to the server on `port`; a body makes it a JSON POST.
std::vector<std::string> ui_curl_command(uint16_t port, std::string_view path, const std::optional<json>& body,
                                         std::chrono::seconds time_limit = kUiRequestLimit);

// The first candidate port (the --port value alone, else the whole range) whose curl succeeds
// and prints JSON gives the reply; nothing when none does.
std::optional<json> ui_request(ProcessRunner& runner, std::optional<uint16_t> port, std::string_view path,
                               const std::optional<json>& body, std::chrono::seconds time_limit = kUiRequestLimit);

// `ui toast|click|state|console`. Returns the exit status.
int run_ui(const CommandLine& cli, ProcessRunner& runner);

}  // namespace loomdeck
