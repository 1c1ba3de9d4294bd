#include "http/peer_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace loomdeck {

namespace {

bool loopback_v4(const in_addr& a) { return (ntohl(a.s_addr) >> 24) == 127; }

}  // namespace

PeerAddress peer_from_address(const sockaddr* address, socklen_t length) {
  PeerAddress peer;
  char text[INET6_ADDRSTRLEN] = {};
  if (address == nullptr) return peer;
  if (address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    if (::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text)) peer.text = text;
    peer.loopback = loopback_v4(v4->sin_addr);
  } else if (address->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text)) peer.text = text;
    if (IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr)) {
      peer.loopback = true;
    } else if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
      in_addr mapped{};
      std::memcpy(&mapped.s_addr, v6->sin6_addr.s6_addr + 12, 4);
      peer.loopback = loopback_v4(mapped);
    }
  }
  return peer;
}

PeerAddress peer_of_socket(int fd) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return {};
  return peer_from_address(reinterpret_cast<const sockaddr*>(&storage), length);
}

}  // namespace loomdeck
