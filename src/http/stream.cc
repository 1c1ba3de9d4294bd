#include "http/stream.h"

#include <sys/socket.h>

#include <cerrno>

namespace loomdeck {

bool SocketStream::write_all(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool StringStream::write_all(std::string_view bytes) {
  if (data.size() + bytes.size() > fail_after) return false;
  data.append(bytes);
  return true;
}

}  // namespace loomdeck
