#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace loomdeck {

// Reads what clients still send after their reply, for every such connection on one thread,
// and closes each once its client has closed, it has sent `max_bytes`, or `linger` has passed
// (closing earlier would reset the connection and could destroy the reply before the client
// has read it). The connection's own thread is free for the next connection meanwhile.
class LingeringCloser {
 public:
  // Nothing when the system gives no epoll instance, event descriptor or thread for it.
  static std::shared_ptr<LingeringCloser> start(std::chrono::milliseconds linger, std::size_t max_bytes);
  LingeringCloser(const LingeringCloser&) = delete;
  LingeringCloser& operator=(const LingeringCloser&) = delete;

  // Takes over a connection whose reply has been sent and whose sending side is shut down, and
  // from which `drained` bytes were read already.
  void add(int fd, std::size_t drained);

 private:
  LingeringCloser(std::chrono::milliseconds linger, std::size_t max_bytes, int epoll_fd, int wake_fd);
  void run();
  // Reads what the connection holds; closes it when it is done.
  void drain(int fd, std::uint32_t generation);
  void close_expired();
  // Forgets the connection and closes it, when it is still the one of that generation.
  void finish(int fd, std::uint32_t generation);

  struct Open {
    std::uint32_t generation;
    std::size_t drained;
  };
  struct Deadline {
    std::chrono::steady_clock::time_point at;
    int fd;
    std::uint32_t generation;
  };

  const std::chrono::milliseconds linger_;
  const std::size_t max_bytes_;
  const int epoll_fd_;
  const int wake_fd_;
  std::mutex mutex_;
  std::unordered_map<int, Open> open_;  // a descriptor number is reused once closed: generations tell them apart
  std::deque<Deadline> deadlines_;      // in the order added, so also by time
  std::uint32_t next_generation_ = 0;
};

}  // namespace loomdeck
