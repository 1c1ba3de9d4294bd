#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace loomdeck {

// The one place replies leave the process. Writes are best effort: a peer that went away
// shows up as a false return, never as a signal or an exception.
class Stream {
 public:
  virtual ~Stream() = default;
  bool write(std::string_view bytes) {
    written_ += bytes.size();
    return write_all(bytes);
  }
  // Whether a reply has begun (a route that fails after this cannot send another one).
  bool started() const { return written_ > 0; }

 protected:
  virtual bool write_all(std::string_view bytes) = 0;

 private:
  std::size_t written_ = 0;
};

class SocketStream : public Stream {
 public:
  explicit SocketStream(int fd) : fd_(fd) {}

 protected:
  bool write_all(std::string_view bytes) override;

 private:
  int fd_;
};

// Collects the reply in memory, for tests; `fail_after` simulates a peer that goes away.
class StringStream : public Stream {
 public:
  std::string data;
  std::size_t fail_after = static_cast<std::size_t>(-1);

 protected:
  bool write_all(std::string_view bytes) override;
};

}  // namespace loomdeck
