#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>

namespace loomdeck {

// The bridge tools the server calls by name. Pass-through verbs (the action table, the design
// surfaces) name theirs in their own tables and get the long time limit.
namespace tool {
inline constexpr std::string_view kReadiness = "fusion_readiness";
inline constexpr std::string_view kApsStatus = "fusion_aps_status";
inline constexpr std::string_view kMcpStatus = "fusion_mcp_status";
inline constexpr std::string_view kSetAutoUpdate = "fusion_set_auto_update";
inline constexpr std::string_view kSetSeatTakeover = "fusion_set_seat_takeover";
inline constexpr std::string_view kSetDrivingBadge = "fusion_set_driving_badge";
inline constexpr std::string_view kSetActivityIndicator = "fusion_set_activity_indicator";
inline constexpr std::string_view kState = "fusion_state";
inline constexpr std::string_view kStart = "fusion_start";
inline constexpr std::string_view kStop = "fusion_stop";
inline constexpr std::string_view kKill = "fusion_kill";
inline constexpr std::string_view kDismissBlockingDialogs = "fusion_dismiss_blocking_dialogs";
inline constexpr std::string_view kSignin = "fusion_signin";
inline constexpr std::string_view kMcpEnable = "fusion_mcp_enable";
inline constexpr std::string_view kApsSignin = "fusion_aps_signin";
inline constexpr std::string_view kDemo = "fusion_demo";
inline constexpr std::string_view kOpenLbr = "fusion_open_lbr";
inline constexpr std::string_view kMakeTestProject = "fusion_make_test_project";
inline constexpr std::string_view kSendFiles = "send_files";
}  // namespace tool

// Reads of a box's state (the status probes, `targets`) answer within seconds; one still
// running after this is hung (a desktop asleep mid-call, a wedged relay).
inline constexpr std::chrono::milliseconds kProbeTimeLimit = std::chrono::seconds(30);
// Every other call: the longest verbs return within the bridge's own relay window, far inside this.
inline constexpr std::chrono::milliseconds kBridgeCallTimeLimit = std::chrono::minutes(15);

// One tool the server knows: its name on the wire and whether it is a status probe (a read of
// the box's state when called with `{}`, so it gets the short time limit then).
struct BridgeTool {
  std::string_view wire;
  bool probe;
};

inline constexpr BridgeTool kBridgeTools[] = {
    {tool::kReadiness, true},
    {tool::kApsStatus, true},
    {tool::kMcpStatus, true},
    {tool::kSetAutoUpdate, true},
    {tool::kSetSeatTakeover, true},
    {tool::kSetDrivingBadge, true},
    {tool::kSetActivityIndicator, true},
    {tool::kState, false},
    {tool::kStart, false},
    {tool::kStop, false},
    {tool::kKill, false},
    {tool::kDismissBlockingDialogs, false},
    {tool::kSignin, false},
    {tool::kMcpEnable, false},
    {tool::kApsSignin, false},
    {tool::kDemo, false},
    {tool::kOpenLbr, false},
    {tool::kMakeTestProject, false},
    {tool::kSendFiles, false},
};

// How many status probes the table has: the reads a status is built from, in the table's order.
constexpr std::size_t status_probe_count() {
  std::size_t n = 0;
  for (const BridgeTool& t : kBridgeTools) n += t.probe ? 1 : 0;
  return n;
}

// The time limit of one tool call: the short one for a probe called with `{}`, the long one for
// everything else.
std::chrono::milliseconds bridge_time_limit(std::string_view tool, std::string_view args);

}  // namespace loomdeck
