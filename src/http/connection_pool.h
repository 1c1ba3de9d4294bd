#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace loomdeck {

// What one wait for the next connection gave.
struct Accepted {
  enum class Kind {
    kConnection,  // `fd` is a new connection
    kIdle,        // nothing arrived for the idle period
    kRetry,       // a passing failure; wait again
    kClosed,      // no connection will ever come again
  };
  Kind kind = Kind::kRetry;
  int fd = -1;
};

// Connection threads that take turns waiting for the next connection (leader/follower): the
// thread that receives one serves it for its whole life, so a route may block for minutes, and
// it starts another waiting thread only when no other is waiting. A thread that has served its
// connection waits again, so under load no thread is created per connection. Threads beyond
// `max_idle_threads` end as they finish, and a waiting thread ends after an idle period as long
// as another one is still waiting.
class ConnectionPool {
 public:
  struct Options {
    int max_connections = 4096;          // served at once; a connection past it is closed unserved
    std::size_t max_idle_threads = 256;  // waiting threads kept after a burst
    std::size_t stack_bytes = 0;         // of each thread the pool starts; 0 keeps the system's default
  };
  // Waits for the next connection (from several threads at once).
  using AcceptFn = std::function<Accepted()>;
  // Serves a connection and closes its descriptor.
  using ServeFn = std::function<void(int fd)>;

  ConnectionPool(AcceptFn accept, ServeFn serve, Options options);

  // Takes part on the calling thread, which never ends for being idle; returns once the source
  // reports kClosed (the pool's own threads end then too).
  void run();

  struct Counts {
    int open_connections = 0;
    int threads = 0;  // the pool's own threads plus the one in run()
    int waiting = 0;
    long long threads_started = 0;
  };
  Counts counts() const;

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

}  // namespace loomdeck
