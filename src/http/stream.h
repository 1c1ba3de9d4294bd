#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace loomdeck {

// The one place replies leave the process. Writes are best effort: a peer that went away
// shows up as a false return, never as a signal or an exception.
class Stream {
 public:
  virtual ~Stream() = default;
  bool write(std::string_view bytes) { return write(std::span<const std::string_view>(&bytes, 1)); }
  // The parts one after another, handed to the system in as few calls as it takes (one, for a
  // reply's head and body or a burst of event frames).
  bool write(std::span<const std::string_view> parts) {
    for (const std::string_view part : parts) written_ += part.size();
    return write_all(parts);
  }
  bool write(std::initializer_list<std::string_view> parts) {
    return write(std::span<const std::string_view>(parts.begin(), parts.size()));
  }
  // Whether a reply has begun (a route that fails after this cannot send another one).
  bool started() const { return written_ > 0; }
  // Whether the peer has closed its side, without waiting: a long reply that writes rarely (an
  // event stream) asks, so a peer gone away gives its connection back without waiting for a write
  // to fail.
  virtual bool hung_up() const { return false; }

 protected:
  virtual bool write_all(std::span<const std::string_view> parts) = 0;

 private:
  std::size_t written_ = 0;
};

class SocketStream : public Stream {
 public:
  explicit SocketStream(int fd) : fd_(fd) {}
  bool hung_up() const override;

 protected:
  bool write_all(std::span<const std::string_view> parts) override;

 private:
  int fd_;
};

// Collects the reply in memory, for tests; `fail_after` simulates a peer that goes away.
class StringStream : public Stream {
 public:
  std::string data;
  std::size_t fail_after = static_cast<std::size_t>(-1);

 protected:
  bool write_all(std::span<const std::string_view> parts) override;
};

}  // namespace loomdeck
