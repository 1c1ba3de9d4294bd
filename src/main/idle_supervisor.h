#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/version.h"
#include "server/server_state.h"

namespace loomdeck {

inline constexpr std::chrono::seconds kSupervisorPeriod{300};
inline constexpr long long kRetireAfterIdleSeconds = 600;
inline constexpr long long kReapAfterIdleSeconds = 86400;

inline constexpr std::string_view kReapLine = "idle 24h with no viewers - reaping (dock click restarts me)";

// Nobody watching and no request for more than ten minutes: worth looking for a successor.
bool may_retire(long long idle_seconds, int viewers);
// Nobody watching and no request for more than a day: the server ends regardless.
bool may_reap(long long idle_seconds, int viewers);

// The version a /api/ping reply names when it comes from a loomdeck server of another version
// text that is numerically the same as `own` or newer, i.e. one this server may hand over to.
std::optional<std::string> successor_version(std::string_view ping_reply, std::string_view own);

// "v{other} is serving and I am v{own} with no viewers for {idle minutes}m - retiring"
std::string retire_line(std::string_view other, std::string_view own, long long idle_seconds);

// One wake-up of the supervisor: sleeps one period on the server's clock, then decides. The
// result is the line to print before ending the process, or nothing to keep serving.
std::optional<std::string> idle_supervisor_tick(ServerState& state, std::string_view own_version = LOOMDECK_VERSION);

// Runs the ticks for the life of the server and ends the process when one says so.
[[noreturn]] void run_idle_supervisor(const std::shared_ptr<ServerState>& state);

}  // namespace loomdeck
