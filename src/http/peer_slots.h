#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "http/peer_address.h"

namespace loomdeck {

// What one peer on the network may hold at once, so that one machine cannot take every slot
// from everyone else. Loopback peers (this container's own tools and pages) are not counted.
inline constexpr int kMaxConnectionsPerPeer = 64;
inline constexpr int kMaxEventStreamsPerPeer = 32;

// Counts what each network peer holds of one kind of slot. A peer's entry lives only while it
// holds a slot, so the map is bounded by the open connections.
class PeerSlots {
 public:
  explicit PeerSlots(int max_per_peer) : max_per_peer_(max_per_peer) {}
  PeerSlots(const PeerSlots&) = delete;
  PeerSlots& operator=(const PeerSlots&) = delete;

  // A slot held until the hold is destroyed.
  class Hold {
   public:
    Hold() = default;
    Hold(PeerSlots* slots, std::string peer) : slots_(slots), peer_(std::move(peer)) {}
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    ~Hold() {
      if (slots_) slots_->give_back(peer_);
    }

   private:
    PeerSlots* slots_ = nullptr;
    std::string peer_;
  };

  // A slot for the peer, or nothing when it already holds its share. A loopback peer always
  // gets one (not counted).
  std::unique_ptr<Hold> take(const PeerAddress& peer);

  int held(const std::string& peer) const;

 private:
  void give_back(const std::string& peer);

  const int max_per_peer_;
  mutable std::mutex mutex_;
  std::map<std::string, int> held_;
};

}  // namespace loomdeck
