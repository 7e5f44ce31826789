#include "core/producer/approx_matcher.h"

#include <algorithm>

#include "core/producer/suffix_array.h"

namespace producer {
namespace {

// Longer matches than this are not needed to decide between alignments, and bounding the
// query keeps each suffix-array search cheap.
constexpr uint64_t kQueryLimit = 1 << 16;

}  // namespace

std::vector<ApproxBlock> MatchApproximately(const SuffixArray& index, std::span<const uint8_t> new_data,
                                            const ApproxOptions& options) {
  const std::span<const uint8_t> old_data = index.text();
  const int64_t old_size = static_cast<int64_t>(old_data.size());
  const int64_t new_size = static_cast<int64_t>(new_data.size());
  const uint8_t* old = old_data.data();
  const uint8_t* nw = new_data.data();
  auto same = [&](int64_t n, int64_t o) { return o >= 0 && o < old_size && old[o] == nw[n]; };

  std::vector<ApproxBlock> blocks;
  int64_t scan = 0, len = 0, last_scan = 0, last_pos = 0, last_offset = 0;
  uint32_t pos = 0;
  while (scan < new_size) {
    // Walk forward until a match appears that the current alignment (last_offset) does not
    // already give nearly as well.
    int64_t old_score = 0;
    int64_t scored = scan += len;
    for (; scan < new_size; ++scan) {
      const Match m = index.LongestMatch(
          new_data.subspan(static_cast<size_t>(scan), static_cast<size_t>(std::min<int64_t>(new_size - scan, kQueryLimit))));
      len = m.length;
      pos = m.offset;
      for (; scored < scan + len; ++scored) old_score += same(scored, scored + last_offset);
      if ((len == old_score && len != 0) || len > old_score + options.switch_margin) break;
      if (same(scan, scan + last_offset)) --old_score;
    }
    if (len == old_score && scan != new_size) continue;

    // Extend the previous alignment forwards as long as it matches more than half.
    int64_t forward = 0;
    for (int64_t i = 0, s = 0, best = 0; last_scan + i < scan && last_pos + i < old_size;) {
      s += old[last_pos + i] == nw[last_scan + i];
      ++i;
      if (s * 2 - i > best * 2 - forward) best = s, forward = i;
    }
    // And the new one backwards.
    int64_t backward = 0;
    if (scan < new_size) {
      for (int64_t i = 1, s = 0, best = 0; scan >= last_scan + i && pos >= i; ++i) {
        s += old[pos - i] == nw[scan - i];
        if (s * 2 - i > best * 2 - backward) best = s, backward = i;
      }
    }
    // Where the two overlap, split at the point that keeps the most matching bytes.
    if (last_scan + forward > scan - backward) {
      const int64_t overlap = last_scan + forward - (scan - backward);
      int64_t s = 0, best = 0, keep = 0;
      for (int64_t i = 0; i < overlap; ++i) {
        s += nw[last_scan + forward - overlap + i] == old[last_pos + forward - overlap + i];
        s -= nw[scan - backward + i] == old[pos - backward + i];
        if (s > best) best = s, keep = i + 1;
      }
      forward += keep - overlap;
      backward -= keep;
    }
    ApproxBlock b;
    b.copy_length = static_cast<uint32_t>(forward);
    b.old_offset = static_cast<uint32_t>(last_pos);
    b.new_length = static_cast<uint32_t>((scan - backward) - (last_scan + forward));
    if (b.copy_length > 0 || b.new_length > 0) blocks.push_back(b);
    last_scan = scan - backward;
    last_pos = pos - backward;
    last_offset = pos - scan;
  }
  return blocks;
}

}  // namespace producer
