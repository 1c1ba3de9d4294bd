#include "bridge/bridge_client.h"

namespace loomdeck {

BridgeReply read_bridge_reply(json result) {
  BridgeReply reply;
  reply.data = unwrap_bridge_data(result);
  reply.error = member_or_null(reply.data, "error");
  reply.ok = bridge_call_ok(result, reply.data);
  reply.result = std::move(result);
  return reply;
}

BridgeReply BridgeClient::call(const std::string& box, std::string_view tool, const std::string& args) const {
  return read_bridge_reply(bridge.call(attribution, box, std::string(tool), args));
}

void BridgeClient::send(const std::string& box, std::string_view tool, const std::string& args) const {
  bridge.call(attribution, box, std::string(tool), args);
}

}  // namespace loomdeck
