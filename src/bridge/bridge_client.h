#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "bridge/bridge.h"

namespace loomdeck {

// One tool call's answer, read once: what the bridge returned, its `data`, the data's `error`
// and whether the call succeeded.
struct BridgeReply {
  json result;      // as the runner returned it (what pass-through replies send on)
  json data;        // unwrap_bridge_data(result)
  json error;       // the data's `error` member as given, null when absent
  bool ok = false;  // bridge_call_ok(result, data)
};

BridgeReply read_bridge_reply(json result);

// The bridge as the server's procedures use it: every call names the server's attribution and
// comes back as a BridgeReply.
struct BridgeClient {
  Bridge& bridge;
  std::string attribution;

  [[nodiscard]] BridgeReply call(const std::string& box, std::string_view tool, const std::string& args = "{}") const;
  // A call whose answer is not read: what it changes shows in the probes that follow it.
  void send(const std::string& box, std::string_view tool, const std::string& args = "{}") const;
  // `ovra-bridge targets`: its parsed output, or nothing.
  std::optional<json> targets() const { return bridge.targets(); }
};

}  // namespace loomdeck
