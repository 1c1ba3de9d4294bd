#include "http/stream.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>

namespace loomdeck {

namespace {

// Parts handed to one sendmsg; a longer burst takes one call per this many.
constexpr std::size_t kPartsPerCall = 64;

}  // namespace

bool SocketStream::hung_up() const {
  pollfd p{fd_, POLLRDHUP, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  return (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

bool SocketStream::write_all(std::span<const std::string_view> parts) {
  std::size_t index = 0;   // the first part not wholly sent
  std::size_t offset = 0;  // bytes of it already sent
  for (;;) {
    while (index < parts.size() && offset == parts[index].size()) {
      ++index;
      offset = 0;
    }
    if (index == parts.size()) return true;
    iovec vec[kPartsPerCall];
    std::size_t count = 0;
    for (std::size_t i = index; i < parts.size() && count < kPartsPerCall; ++i) {
      const std::size_t skip = i == index ? offset : 0;
      if (parts[i].size() == skip) continue;
      vec[count++] = {const_cast<char*>(parts[i].data() + skip), parts[i].size() - skip};
    }
    msghdr message{};
    message.msg_iov = vec;
    message.msg_iovlen = count;
    const ssize_t n = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    for (std::size_t sent = static_cast<std::size_t>(n); sent > 0;) {
      const std::size_t step = std::min(sent, parts[index].size() - offset);
      offset += step;
      sent -= step;
      if (offset == parts[index].size()) {
        ++index;
        offset = 0;
      }
    }
  }
}

bool StringStream::write_all(std::span<const std::string_view> parts) {
  for (const std::string_view part : parts) {
    if (data.size() + part.size() > fail_after) return false;
    data.append(part);
  }
  return true;
}

}  // namespace loomdeck
