#include "http/lingering_close.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <thread>
#include <vector>

namespace loomdeck {

namespace {

// The epoll tag of the event descriptor that wakes the thread when the first connection arrives.
constexpr std::uint64_t kWakeTag = ~std::uint64_t{0};

std::uint64_t tag_of(int fd, std::uint32_t generation) {
  return (std::uint64_t{generation} << 32) | static_cast<std::uint32_t>(fd);
}

}  // namespace

std::shared_ptr<LingeringCloser> LingeringCloser::start(std::chrono::milliseconds linger, std::size_t max_bytes) {
  const int epoll_fd = ::epoll_create1(EPOLL_CLOEXEC);
  const int wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event wake{};
  wake.events = EPOLLIN;
  wake.data.u64 = kWakeTag;
  if (epoll_fd < 0 || wake_fd < 0 || ::epoll_ctl(epoll_fd, EPOLL_CTL_ADD, wake_fd, &wake) != 0) {
    if (epoll_fd >= 0) ::close(epoll_fd);
    if (wake_fd >= 0) ::close(wake_fd);
    return nullptr;
  }
  std::shared_ptr<LingeringCloser> closer(new LingeringCloser(linger, max_bytes, epoll_fd, wake_fd));
  try {
    // The thread runs for the life of the process, so it keeps the closer alive.
    std::thread([closer] { closer->run(); }).detach();
  } catch (const std::exception&) {
    return nullptr;
  }
  return closer;
}

LingeringCloser::LingeringCloser(std::chrono::milliseconds linger, std::size_t max_bytes, int epoll_fd, int wake_fd)
    : linger_(linger), max_bytes_(max_bytes), epoll_fd_(epoll_fd), wake_fd_(wake_fd) {}

void LingeringCloser::add(int fd, std::size_t drained) {
  bool was_idle;
  {
    // Registered under the lock, so the connection cannot expire and be closed before it is.
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint32_t generation = ++next_generation_;
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.u64 = tag_of(fd, generation);
    if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &event) != 0) {
      ::close(fd);
      return;
    }
    was_idle = deadlines_.empty();
    open_[fd] = Open{generation, drained};
    deadlines_.push_back(Deadline{std::chrono::steady_clock::now() + linger_, fd, generation});
  }
  // With nothing to wait for, the thread sleeps without a deadline; it must learn this one.
  if (was_idle) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
  }
}

void LingeringCloser::run() {
  epoll_event events[64];
  for (;;) {
    int wait_ms = -1;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!deadlines_.empty()) {
        const auto left = deadlines_.front().at - std::chrono::steady_clock::now();
        wait_ms = left.count() <= 0 ? 0 : static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
      }
    }
    const int n = ::epoll_wait(epoll_fd_, events, 64, wait_ms);
    for (int i = 0; i < n; ++i) {
      const std::uint64_t tag = events[i].data.u64;
      if (tag == kWakeTag) {
        std::uint64_t count;
        [[maybe_unused]] const ssize_t got = ::read(wake_fd_, &count, sizeof count);
        continue;
      }
      drain(static_cast<int>(tag & 0xffffffffu), static_cast<std::uint32_t>(tag >> 32));
    }
    close_expired();
  }
}

void LingeringCloser::drain(int fd, std::uint32_t generation) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = open_.find(fd);
    if (it == open_.end() || it->second.generation != generation) return;
  }
  char buf[16384];
  for (;;) {
    const ssize_t got = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got > 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto it = open_.find(fd);
      if (it == open_.end() || it->second.generation != generation) return;
      it->second.drained += static_cast<std::size_t>(got);
      if (it->second.drained < max_bytes_) continue;
    }
    // The client closed, the connection failed, or it sent all it may.
    finish(fd, generation);
    return;
  }
}

void LingeringCloser::close_expired() {
  std::vector<Deadline> due;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    while (!deadlines_.empty() && deadlines_.front().at <= now) {
      due.push_back(deadlines_.front());
      deadlines_.pop_front();
    }
  }
  for (const Deadline& d : due) finish(d.fd, d.generation);
}

void LingeringCloser::finish(int fd, std::uint32_t generation) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = open_.find(fd);
    if (it == open_.end() || it->second.generation != generation) return;
    open_.erase(it);
  }
  // Removed from the epoll set first: a child process being spawned may hold a copy of the
  // descriptor for a moment, which would keep it registered after the close. Only after it is
  // forgotten: from the close on, the number may come back as a new connection or a pipe.
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
  ::close(fd);
}

}  // namespace loomdeck
