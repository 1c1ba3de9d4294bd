#include "http/listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include "http/byte_source.h"
#include "http/connection_pool.h"
#include "http/lingering_close.h"
#include "http/peer_address.h"
#include "http/request.h"
#include "http/stream.h"

namespace loomdeck {

namespace {

// Waits until the socket has something to read (or has ended); false once the deadline passed.
bool readable_before(int fd, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0;
  }
}

// Reads a socket, giving up once the deadline for the request passes. The bytes are usually
// there already, so it waits only when a read finds none.
class SocketSource : public ByteSource {
 public:
  SocketSource(int fd, std::chrono::steady_clock::time_point deadline) : fd_(fd), deadline_(deadline) {}
  ssize_t read(char* buf, std::size_t n) override {
    for (;;) {
      const ssize_t got = ::recv(fd_, buf, n, MSG_DONTWAIT);
      if (got >= 0) return got;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
      if (!readable_before(fd_, deadline_)) return -1;
    }
  }

 private:
  int fd_;
  std::chrono::steady_clock::time_point deadline_;
};

// What a client may still send after its reply before its connection is closed regardless.
constexpr std::size_t kMaxDrainBytes = 64u << 20;

// After the reply, stop sending and read what the client is still sending, briefly, so closing
// does not reset the connection and destroy the reply before the client has read it. A client
// that has already closed costs no wait, and neither does one whose whole request was read with
// nothing after it: it was told "Connection: close" and has nothing left to send. Any other is
// left to the lingering closer (this thread then waits itself only when there is none).
void finish_connection(int fd, int drain_ms, LingeringCloser* closer, bool whole_request) {
  ::shutdown(fd, SHUT_WR);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(drain_ms);
  char buf[16384];
  std::size_t drained = 0;
  while (drained < kMaxDrainBytes) {
    const ssize_t got = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (got > 0) {
      drained += static_cast<std::size_t>(got);
      continue;
    }
    if (got == 0) break;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) break;
    if (whole_request && drained == 0) break;
    if (closer) {
      closer->add(fd, drained);
      return;
    }
    if (!readable_before(fd, deadline)) break;
  }
  ::close(fd);
}

void handle_connection(const RequestHandler& handler, int fd, const ConnectionLimits& limits, LingeringCloser* closer,
                       PeerSlots& peer_slots) {
  const auto accepted = std::chrono::steady_clock::now();
  const PeerAddress peer = peer_of_socket(fd);
  // A peer on the network past its share, or one that sends nothing, is closed unserved.
  const std::unique_ptr<PeerSlots::Hold> slot = peer_slots.take(peer);
  if (!slot || !readable_before(fd, accepted + std::chrono::seconds(limits.head_start_seconds))) {
    ::close(fd);
    return;
  }
  timeval send_timeout{limits.send_timeout_seconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
  std::optional<Request> request;
  {
    SocketSource source(fd, accepted + std::chrono::seconds(limits.head_deadline_seconds));
    LineReader reader(source);
    request = read_request(reader);
  }
  if (request) {
    request->peer = peer;
    SocketStream stream(fd);
    handler(*request, stream);
  }
  const bool whole_request = request && !request->malformed && request->announced_length <= kMaxBodyBytes;
  finish_connection(fd, limits.drain_milliseconds, closer, whole_request);
}

// Waits in accept; the listener's receive timeout ends the wait after the idle period.
Accepted accept_connection(int listen_fd) {
  const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) return {Accepted::Kind::kConnection, fd};
  if (errno == EAGAIN || errno == EWOULDBLOCK) return {Accepted::Kind::kIdle, -1};
  // Out of descriptors or a network error: pause briefly rather than spin.
  if (errno != EINTR && errno != ECONNABORTED) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return {Accepted::Kind::kRetry, -1};
}

}  // namespace

namespace {

// The socket address for `address` and `port`, or nothing when `address` is not numeric.
std::optional<sockaddr_storage> socket_address(const std::string& address, uint16_t port, socklen_t& length) {
  sockaddr_storage storage{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    length = sizeof(sockaddr_in);
    return storage;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    length = sizeof(sockaddr_in6);
    return storage;
  }
  return std::nullopt;
}

}  // namespace

bool valid_bind_address(const std::string& address) {
  socklen_t length = 0;
  return socket_address(address, 0, length).has_value();
}

BoundListener bind_listener(uint16_t start_port, const std::string& address) {
  BoundListener result;
  unsigned port = start_port;
  for (;;) {
    socklen_t length = 0;
    const std::optional<sockaddr_storage> addr = socket_address(address, static_cast<uint16_t>(port), length);
    if (!addr) {
      result.error = "not a numeric IP address: " + address;
      return result;
    }
    const int fd = ::socket(addr->ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
      const int one = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      if (::bind(fd, reinterpret_cast<const sockaddr*>(&*addr), length) == 0 && ::listen(fd, 128) == 0) {
        result.fd = fd;
        result.port = static_cast<uint16_t>(port);
        return result;
      }
      result.error = std::strerror(errno);
      ::close(fd);
    } else {
      result.error = std::strerror(errno);
    }
    if (port >= static_cast<unsigned>(kLastPort)) return result;
    ++port;
  }
}

void accept_loop(int listen_fd, RequestHandler handler, ConnectionLimits limits) {
  // A thread waiting in accept gives up after the listener's receive timeout.
  timeval idle{limits.idle_thread_seconds, 0};
  ::setsockopt(listen_fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
  // A connection is handed over once its request has begun to arrive (or after a second
  // without), so its thread wakes once instead of twice.
  const int defer_seconds = 1;
  ::setsockopt(listen_fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &defer_seconds, sizeof defer_seconds);
  const std::shared_ptr<LingeringCloser> closer =
      LingeringCloser::start(std::chrono::milliseconds(limits.drain_milliseconds), kMaxDrainBytes);
  const auto peer_slots = std::make_shared<PeerSlots>(limits.max_connections_per_peer);
  ConnectionPool pool([listen_fd] { return accept_connection(listen_fd); },
                      [handler = std::move(handler), limits, closer, peer_slots](int fd) {
                        handle_connection(handler, fd, limits, closer.get(), *peer_slots);
                      },
                      {limits.max_connections, limits.max_idle_threads, kConnectionStackBytes});
  pool.run();
  // A listening socket never reports that it closed, so run() does not return.
  std::abort();
}

}  // namespace loomdeck
