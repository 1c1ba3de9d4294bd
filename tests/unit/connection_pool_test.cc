#include "http/connection_pool.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "http/peer_slots.h"

namespace loomdeck {
namespace {

// Hands the pool the connections the test pushes. expire() ends every wait under way as idle,
// as the passing of the idle period would, and close() ends the pool.
class FakeDoor {
 public:
  Accepted accept() {
    std::unique_lock<std::mutex> lock(mutex_);
    const long long expiry = expiries_;
    ++inside_;
    entered_.notify_all();
    ready_.wait(lock, [&] { return !fds_.empty() || closed_ || expiries_ != expiry; });
    --inside_;
    if (!fds_.empty()) {
      const int fd = fds_.front();
      fds_.pop_front();
      return {Accepted::Kind::kConnection, fd};
    }
    return {closed_ ? Accepted::Kind::kClosed : Accepted::Kind::kIdle, -1};
  }
  // Returns the test's end of a new connection.
  int push() {
    int pair[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      fds_.push_back(pair[0]);
    }
    ready_.notify_one();
    return pair[1];
  }
  // Waits until `count` threads wait in accept().
  void wait_inside(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    entered_.wait(lock, [&] { return inside_ >= count; });
  }
  void expire() {
    change([&] { ++expiries_; });
  }
  void close() {
    change([&] { closed_ = true; });
  }

 private:
  template <typename F>
  void change(F f) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      f();
    }
    ready_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable entered_;
  int inside_ = 0;
  std::deque<int> fds_;
  long long expiries_ = 0;
  bool closed_ = false;
};

// Serves by holding each connection until the test lets it go.
class HeldServing {
 public:
  void serve(int fd) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++served_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !holding_; });
    ::close(fd);
  }
  void hold(bool on) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      holding_ = on;
    }
    changed_.notify_all();
  }
  int served() {
    std::lock_guard<std::mutex> lock(mutex_);
    return served_;
  }
  void wait_served(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return served_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int served_ = 0;
  bool holding_ = false;
};

// Waits for the pool to reach a state its threads are moving towards.
template <typename Done>
void wait_until(const ConnectionPool& pool, Done done) {
  for (int i = 0; i < 20000 && !done(pool.counts()); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(done(pool.counts()));
}

// Whether the pool closed the test's end's peer: the test's end reads the end of the stream.
bool closed_by_pool(int peer) {
  char c;
  const bool closed = ::recv(peer, &c, 1, 0) == 0;
  ::close(peer);
  return closed;
}

TEST(ConnectionPool, ReusesWaitingThreadsKeepsTheCapAndEndsIdleOnes) {
  FakeDoor door;
  HeldServing serving;
  ConnectionPool pool([&] { return door.accept(); }, [&](int fd) { serving.serve(fd); },
                      {.max_connections = 3, .max_idle_threads = 16, .stack_bytes = 256 * 1024});
  std::thread runner([&] { pool.run(); });

  // One connection after another: the first starts a second waiting thread, and from then on
  // the two take turns; no thread is started per connection.
  for (int i = 1; i <= 10; ++i) {
    EXPECT_TRUE(closed_by_pool(door.push()));
    wait_until(pool, [](const ConnectionPool::Counts& c) { return c.open_connections == 0 && c.waiting == 2; });
  }
  EXPECT_EQ(serving.served(), 10);
  EXPECT_EQ(pool.counts().threads_started, 1);

  // Three held at once: a thread is started whenever the last waiting one takes a connection.
  serving.hold(true);
  int held[3];
  for (int& peer : held) peer = door.push();
  serving.wait_served(13);
  wait_until(pool, [](const ConnectionPool::Counts& c) { return c.open_connections == 3 && c.waiting == 1; });
  EXPECT_EQ(pool.counts().threads, 4);
  EXPECT_EQ(pool.counts().threads_started, 3);

  // At the cap a new connection is closed unserved, and the pool still waits for the next.
  EXPECT_TRUE(closed_by_pool(door.push()));
  EXPECT_EQ(serving.served(), 13);
  EXPECT_EQ(pool.counts().waiting, 1);

  serving.hold(false);
  for (const int peer : held) EXPECT_TRUE(closed_by_pool(peer));
  wait_until(pool, [](const ConnectionPool::Counts& c) { return c.open_connections == 0 && c.waiting == 4; });

  // An idle period ends every thread but the caller's.
  door.wait_inside(4);
  door.expire();
  wait_until(pool, [](const ConnectionPool::Counts& c) { return c.threads == 1 && c.waiting == 1; });
  EXPECT_TRUE(closed_by_pool(door.push()));
  EXPECT_EQ(serving.served(), 14);

  door.close();
  runner.join();
  wait_until(pool, [](const ConnectionPool::Counts& c) { return c.threads == 0; });
}

// A network peer holds its share and no more, gets a slot back as each is given up, and a loopback
// peer is never counted.
TEST(PeerSlots, ANetworkPeerHoldsItsShareAndLoopbackIsNotCounted) {
  PeerSlots slots(kMaxConnectionsPerPeer);
  const PeerAddress remote{"10.0.0.7", false};
  std::vector<std::unique_ptr<PeerSlots::Hold>> held;
  for (int i = 0; i < kMaxConnectionsPerPeer; ++i) held.push_back(slots.take(remote));
  for (const auto& h : held) ASSERT_TRUE(h);
  EXPECT_FALSE(slots.take(remote));
  EXPECT_TRUE(slots.take(PeerAddress{"10.0.0.8", false}));
  held.pop_back();
  EXPECT_TRUE(slots.take(remote));
  for (int i = 0; i < 5000; ++i) ASSERT_TRUE(slots.take(PeerAddress{"127.0.0.1", true}));
  held.clear();
  EXPECT_EQ(slots.held("10.0.0.7"), 0);
}

}  // namespace
}  // namespace loomdeck
