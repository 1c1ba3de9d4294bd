#include "http/connection_pool.h"

#include <malloc.h>
#include <pthread.h>
#include <unistd.h>

#include <mutex>

namespace loomdeck {

struct ConnectionPool::Shared : std::enable_shared_from_this<ConnectionPool::Shared> {
  AcceptFn accept;
  ServeFn serve;
  Options options;

  mutable std::mutex mutex;
  Counts counts;

  // Starts one more waiting thread (already counted by the caller); false when none can start.
  bool start_thread();
  static void* thread_main(void* arg);
  void work(bool permanent);
  void leave();
};

void* ConnectionPool::Shared::thread_main(void* arg) {
  // The thread keeps the pool's state alive for as long as it runs.
  std::shared_ptr<Shared>* owned = static_cast<std::shared_ptr<Shared>*>(arg);
  const std::shared_ptr<Shared> self = std::move(*owned);
  delete owned;
  self->work(false);
  return nullptr;
}

bool ConnectionPool::Shared::start_thread() {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (options.stack_bytes > 0) pthread_attr_setstacksize(&attr, options.stack_bytes);
  auto* arg = new std::shared_ptr<Shared>(shared_from_this());
  pthread_t thread;
  const bool started = pthread_create(&thread, &attr, thread_main, arg) == 0;
  pthread_attr_destroy(&attr);
  if (!started) delete arg;
  return started;
}

void ConnectionPool::Shared::leave() {
  std::lock_guard<std::mutex> lock(mutex);
  --counts.waiting;
  --counts.threads;
}

void ConnectionPool::Shared::work(bool permanent) {
  for (;;) {
    const Accepted got = accept();
    if (got.kind == Accepted::Kind::kClosed) {
      leave();
      return;
    }
    if (got.kind == Accepted::Kind::kRetry) continue;
    if (got.kind == Accepted::Kind::kIdle) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        // Another thread still waits, so connections keep being taken without this one.
        if (permanent || counts.waiting <= 1) continue;
        --counts.waiting;
        --counts.threads;
      }
#ifndef LOOMDECK_SANITIZER_ALLOCATOR
      // A burst is over. The allocator keeps what its threads freed in their arenas; give it back
      // to the system, so a flood of large requests or toasts does not stay resident.
      ::malloc_trim(0);
#endif
      return;
    }

    bool start_another = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (counts.open_connections >= options.max_connections) {
        ::close(got.fd);
        continue;
      }
      ++counts.open_connections;
      --counts.waiting;
      // Someone must wait for the next connection while this one is served.
      if (counts.waiting == 0) {
        start_another = true;
        ++counts.waiting;
        ++counts.threads;
        ++counts.threads_started;
      }
    }
    if (start_another && !start_thread()) {
      // No thread to spare: this one goes on waiting rather than leave nobody at the door, and
      // the connection is closed unserved.
      {
        std::lock_guard<std::mutex> lock(mutex);
        --counts.threads;
        --counts.threads_started;
        --counts.open_connections;
      }
      ::close(got.fd);
      continue;
    }
    serve(got.fd);
    std::lock_guard<std::mutex> lock(mutex);
    --counts.open_connections;
    if (!permanent && static_cast<std::size_t>(counts.waiting) >= options.max_idle_threads) {
      --counts.threads;
      return;
    }
    ++counts.waiting;
  }
}

ConnectionPool::ConnectionPool(AcceptFn accept, ServeFn serve, Options options) : shared_(std::make_shared<Shared>()) {
  shared_->accept = std::move(accept);
  shared_->serve = std::move(serve);
  shared_->options = options;
}

void ConnectionPool::run() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    ++shared_->counts.threads;
    ++shared_->counts.waiting;
  }
  shared_->work(true);
}

ConnectionPool::Counts ConnectionPool::counts() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->counts;
}

}  // namespace loomdeck
