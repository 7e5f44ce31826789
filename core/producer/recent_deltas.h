#pragma once
// Offsets (OLD minus NEW position) of the last few matches, most recent first: after a
// local edit or a changed address a program usually goes on where it left off, and trying
// these first costs a few compares.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace producer {

class RecentDeltas {
 public:
  static constexpr size_t kCapacity = 4;

  void Remember(int64_t delta) {
    size_t at = 0;
    while (at < count_ && deltas_[at] != delta) ++at;
    if (at == count_) {
      if (count_ < deltas_.size()) ++count_;
      at = count_ - 1;
    }
    for (; at > 0; --at) deltas_[at] = deltas_[at - 1];
    deltas_[0] = delta;
  }
  std::span<const int64_t> all() const { return {deltas_.data(), count_}; }

 private:
  std::array<int64_t, kCapacity> deltas_{};
  size_t count_ = 0;
};

}  // namespace producer
