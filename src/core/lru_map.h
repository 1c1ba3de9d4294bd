#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace loomdeck {

// Boxes any per-box map keeps at once: the names come from requests, so without a bound a
// client could grow the server's memory one made-up name at a time.
inline constexpr std::size_t kMaxBoxes = 256;

// A map that keeps at most `capacity` keys, dropping the least recently used one to make room
// for a new key. Not locked: its owner guards it. The bound is small, so finding the oldest
// entry by a scan is cheaper than keeping a second structure in step.
template <typename V>
class LruMap {
 public:
  explicit LruMap(std::size_t capacity = kMaxBoxes) : capacity_(capacity == 0 ? 1 : capacity) {}

  // The value, marked as just used.
  V* find(const std::string& key) {
    const auto it = map_.find(key);
    if (it == map_.end()) return nullptr;
    it->second.used = ++clock_;
    return &it->second.value;
  }
  bool contains(const std::string& key) const { return map_.count(key) > 0; }
  // The key's value, made (default) when absent, marked as just used.
  V& at(const std::string& key) {
    if (V* v = find(key)) return *v;
    make_room();
    return map_.emplace(key, Entry{V{}, ++clock_}).first->second.value;
  }
  void set(const std::string& key, V value) { at(key) = std::move(value); }
  // Inserts only when absent; true when this call inserted.
  bool insert(const std::string& key, V value) {
    if (map_.count(key)) return false;
    make_room();
    map_.emplace(key, Entry{std::move(value), ++clock_});
    return true;
  }
  void erase(const std::string& key) { map_.erase(key); }
  void erase_if(const std::function<bool(const V&)>& pred) {
    for (auto it = map_.begin(); it != map_.end();) it = pred(it->second.value) ? map_.erase(it) : std::next(it);
  }
  std::size_t size() const { return map_.size(); }

 private:
  struct Entry {
    V value;
    std::uint64_t used;
  };
  void make_room() {
    if (map_.size() < capacity_) return;
    auto oldest = map_.begin();
    for (auto it = map_.begin(); it != map_.end(); ++it) {
      if (it->second.used < oldest->second.used) oldest = it;
    }
    map_.erase(oldest);
  }

  std::size_t capacity_;
  std::uint64_t clock_ = 0;
  std::map<std::string, Entry> map_;
};

}  // namespace loomdeck
