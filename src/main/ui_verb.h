#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_text.h"
#include "core/process.h"
#include "main/cli.h"

namespace loomdeck {

inline constexpr std::string_view kNoServerAnswering = "no loomdeck server answering on 8930-8940";

// The curl command for one request to the server on `port`; a body makes it a JSON POST.
std::vector<std::string> ui_curl_command(uint16_t port, std::string_view path, const std::optional<json>& body);

// The first candidate port (the --port value alone, else the whole range) whose curl succeeds
// and prints JSON gives the reply; nothing when none does.
std::optional<json> ui_request(ProcessRunner& runner, std::optional<uint16_t> port, std::string_view path,
                               const std::optional<json>& body);

// `ui toast|click|state|console`. Returns the exit status.
int run_ui(const CommandLine& cli, ProcessRunner& runner);

}  // namespace loomdeck
