#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "http/server_state.h"

namespace loomdeck {

inline constexpr int kLastListenPort = 8940;

struct BoundListener {
  int fd = -1;
  uint16_t port = 0;
  std::string error;  // the system's text for the last failed attempt, when nothing could be bound
};

// The address the server listens on unless told otherwise: every interface.
inline constexpr const char* kDefaultBindAddress = "0.0.0.0";

// Whether `address` is a numeric IPv4 or IPv6 address that a listener can be bound to.
bool valid_bind_address(const std::string& address);

// Binds `address` (a valid bind address) from `start_port` upwards to 8940 (a start above 8940
// gets one attempt).
BoundListener bind_listener(uint16_t start_port, const std::string& address = kDefaultBindAddress);

// Limits that keep one misbehaving client from pinning a thread or memory for ever.
struct ConnectionLimits {
  int max_connections = 4096;       // open connections, event streams included
  int head_deadline_seconds = 30;   // to send the request line, headers and body
  int send_timeout_seconds = 30;    // a single blocked write
  int drain_milliseconds = 1000;    // reading what a client still sends after our reply
};

// Accepts for ever; each connection gets its own detached thread.
[[noreturn]] void accept_loop(int listen_fd, std::shared_ptr<ServerState> state, ConnectionLimits limits = {});

}  // namespace loomdeck
