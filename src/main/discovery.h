#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/process.h"

namespace loomdeck {

// Every loomdeck server binds the first free port of this range.
inline constexpr uint16_t kFirstPort = 8930;
inline constexpr uint16_t kLastPort = 8940;

// `curl -s -m 1 http://127.0.0.1:{port}{path}`: a one-second look at a port of the range.
std::vector<std::string> quick_probe_command(uint16_t port, std::string_view path);

// Whether a /api/ping reply comes from a server of exactly this program's version.
bool is_own_version_ping(std::string_view reply);

// The first port of the range whose server answers /api/ping with this program's version.
// A server of another version is never reused.
std::optional<uint16_t> find_running_instance(ProcessRunner& runner);

}  // namespace loomdeck
