#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "core/lru_map.h"

namespace loomdeck {

// A map keyed by box name behind its own mutex, keeping at most `capacity` keys (the least
// recently used dropped first). Every operation locks for itself only, so a caller can never
// hold it across a bridge call or together with another map.
template <typename V>
class GuardedMap {
 public:
  explicit GuardedMap(std::size_t capacity = kMaxBoxes) : map_(capacity) {}

  std::optional<V> get(const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const V* v = map_.find(key);
    if (!v) return std::nullopt;
    return *v;
  }
  bool contains(const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return map_.contains(key);
  }
  void set(const std::string& key, V value) {
    std::lock_guard<std::mutex> lock(mutex_);
    map_.set(key, std::move(value));
  }
  // Inserts only when absent; true when this call inserted.
  bool insert(const std::string& key, V value) {
    std::lock_guard<std::mutex> lock(mutex_);
    return map_.insert(key, std::move(value));
  }
  void erase(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    map_.erase(key);
  }
  void erase_if(const std::function<bool(const V&)>& pred) {
    std::lock_guard<std::mutex> lock(mutex_);
    map_.erase_if(pred);
  }
  std::size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return map_.size();
  }

 private:
  mutable std::mutex mutex_;
  // Mutable because a read marks its key as used.
  mutable LruMap<V> map_;
};

}  // namespace loomdeck
