#include "http/peer_slots.h"

namespace loomdeck {

std::unique_ptr<PeerSlots::Hold> PeerSlots::take(const PeerAddress& peer) {
  if (peer.loopback) return std::make_unique<Hold>();
  std::lock_guard<std::mutex> lock(mutex_);
  int& held = held_[peer.text];
  if (held >= max_per_peer_) return nullptr;
  ++held;
  return std::make_unique<Hold>(this, peer.text);
}

int PeerSlots::held(const std::string& peer) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = held_.find(peer);
  return it == held_.end() ? 0 : it->second;
}

void PeerSlots::give_back(const std::string& peer) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = held_.find(peer);
  if (it == held_.end()) return;
  if (--it->second <= 0) held_.erase(it);
}

}  // namespace loomdeck
