#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "http/peer_slots.h"
#include "http/request.h"
#include "http/stream.h"

namespace loomdeck {

// Every loomdeck server binds the first free port of this range, and the clients look for one there.
inline constexpr uint16_t kFirstPort = 8930;
inline constexpr uint16_t kLastPort = 8940;

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
  int max_connections = 4096;                             // open connections, event streams included
  int max_connections_per_peer = kMaxConnectionsPerPeer;  // of one network peer (loopback: uncounted)
  int head_start_seconds = 10;                            // to send the first byte of the request
  int head_deadline_seconds = 30;                         // to send the request line, headers and body
  int send_timeout_seconds = 30;                          // a single blocked write
  int drain_milliseconds = 1000;                          // reading what a client still sends after our reply
  int idle_thread_seconds = 10;        // a connection thread waiting this long ends (one always stays)
  std::size_t max_idle_threads = 256;  // waiting threads kept after a burst
};

// Stack of each connection thread: room for the deepest route (a JSON value nested 512 levels
// is copied and written recursively) with a wide margin; the pages a thread never touches cost
// nothing either way.
inline constexpr std::size_t kConnectionStackBytes = 1u << 20;

// Answers one parsed request on the connection's own thread.
using RequestHandler = std::function<void(const Request& request, Stream& stream)>;

// Accepts for ever; each connection is served by one connection thread for its whole life (a
// thread reads one request and hands it to `handler`), and threads are reused between connections.
[[noreturn]] void accept_loop(int listen_fd, RequestHandler handler, ConnectionLimits limits = {});

}  // namespace loomdeck
