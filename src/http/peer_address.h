#pragma once

#include <sys/socket.h>

#include <string>

namespace loomdeck {

// Who is at the other end of a connection. Only a loopback peer can be a tool inside this
// container (curl, the CLI, an agent, a port forward); any other address is somebody on the network.
struct PeerAddress {
  std::string text;       // "127.0.0.1", "::1", "10.0.0.7"; empty when it could not be read
  bool loopback = false;  // 127.0.0.0/8, ::1 or ::ffff:127.0.0.0/104
};

// The peer of a socket address (any family; what is not IPv4 or IPv6 is not loopback).
PeerAddress peer_from_address(const sockaddr* address, socklen_t length);

// The peer of a connected socket; an unreadable one counts as not loopback.
PeerAddress peer_of_socket(int fd);

}  // namespace loomdeck
