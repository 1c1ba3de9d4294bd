#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace loomdeck {

// A map keyed by box name behind its own mutex. Every operation locks for itself only, so a
// caller can never hold it across a bridge call or together with another map.
template <typename V>
class GuardedMap {
 public:
  std::optional<V> get(const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = map_.find(key);
    if (it == map_.end()) return std::nullopt;
    return it->second;
  }
  bool contains(const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return map_.count(key) > 0;
  }
  void set(const std::string& key, V value) {
    std::lock_guard<std::mutex> lock(mutex_);
    map_[key] = std::move(value);
  }
  // Inserts only when absent; true when this call inserted.
  bool insert(const std::string& key, V value) {
    std::lock_guard<std::mutex> lock(mutex_);
    return map_.emplace(key, std::move(value)).second;
  }
  void erase(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    map_.erase(key);
  }
  void erase_if(const std::function<bool(const V&)>& pred) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = map_.begin(); it != map_.end();) {
      it = pred(it->second) ? map_.erase(it) : std::next(it);
    }
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, V> map_;
};

}  // namespace loomdeck
