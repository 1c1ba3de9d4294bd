#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/process.h"
#include "http/listener.h"

namespace loomdeck {

// `curl -s -m 1 http://127.0.0.1:{port}{path}`: a one-second look at a port of the range.
std::vector<std::string> quick_probe_command(uint16_t port, std::string_view path);

// The ports a client asks: the one given, else every port of the range in order.
std::vector<uint16_t> candidate_ports(std::optional<uint16_t> port = std::nullopt);

// What a port's answer means to a scan.
enum class PortAnswer { kNext, kFound, kGiveUp };

// Runs `command(port)` (standard error discarded, each run at most `time_limit`) for each port in
// order until `judge` finds the answer looked for (that port is the result) or gives up
// (nothing); nothing after the last port.
std::optional<uint16_t> scan_ports(ProcessRunner& runner, const std::vector<uint16_t>& ports,
                                   const std::function<std::vector<std::string>(uint16_t)>& command,
                                   const std::function<PortAnswer(const ProcessResult&)>& judge,
                                   std::chrono::milliseconds time_limit = kDefaultTimeLimit);

// Whether a /api/ping reply comes from a loomdeck server of any version: a JSON object, written
// compactly, whose "app" is "loomdeck" and whose "dashboardVersion" is a text that is not empty.
bool is_loomdeck_ping(std::string_view reply);

// The first port (the one given, else the range in order) whose /api/ping says it is a loomdeck
// server. A port that answers as something else is skipped with a note on standard error, so a
// stranger listening in the range never receives what is meant for the dashboard.
std::optional<uint16_t> find_loomdeck_server(ProcessRunner& runner, std::optional<uint16_t> port);

// Whether a /api/ping reply comes from a server of exactly this program's version.
bool is_own_version_ping(std::string_view reply);

// The first port of the range whose server answers /api/ping with this program's version.
// A server of another version is never reused.
std::optional<uint16_t> find_running_instance(ProcessRunner& runner);

// The same on the one port given, else over the range.
std::optional<uint16_t> find_own_server(ProcessRunner& runner, std::optional<uint16_t> port);

}  // namespace loomdeck
