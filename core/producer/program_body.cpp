#include "core/producer/program_body.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "core/patch/format3.h"
#include "core/producer/streams_body.h"
#include "core/producer/suffix_array.h"

namespace producer {
namespace {

// `old_size` counts the synthesized table too.
std::vector<patch::CopySpan> CopiesOf(std::span<const ApproxBlock> blocks, uint64_t old_size, uint64_t new_size) {
  std::vector<patch::CopySpan> copies;
  uint64_t pos = 0;
  for (const ApproxBlock& b : blocks) {
    if (b.copy_length > 0) {
      if (pos + b.copy_length > new_size || uint64_t{b.old_offset} + b.copy_length > old_size) {
        throw EntryError("internal fault: a block reaches outside the old or new file");
      }
      copies.push_back({b.old_offset, static_cast<uint32_t>(pos), b.copy_length});
    }
    pos += uint64_t{b.copy_length} + b.new_length;
  }
  return copies;
}

void Put(std::vector<uint8_t>& data, const patch::Reference& r, uint32_t target) {
  for (uint32_t i = 0; i < patch::RefWidth(r.kind); ++i) data[r.offset + i] = i < 4 ? static_cast<uint8_t>(target >> (8 * i)) : 0;
}

// Where NEW's relocation table lies in the file: [first, second).
std::pair<uint32_t, uint32_t> TableExtent(const patch::PeLayout& layout) {
  uint32_t at = 0, size = 0;
  if (!patch::PeRelocationTable(layout, &at, &size)) return {0, 0};
  return {at, at + size};
}

// Whether the table's blocks are all a multiple of four bytes long (Go's are not).
bool TablePadded(std::span<const uint8_t> file, std::pair<uint32_t, uint32_t> extent) {
  for (uint64_t p = extent.first; p + 8 <= extent.second;) {
    const uint32_t size = file[p + 4] | file[p + 5] << 8 | file[p + 6] << 16 | uint32_t{file[p + 7]} << 24;
    if (size < 8) break;
    if (size % 4 != 0) return false;
    p += size;
  }
  return true;
}

std::vector<uint8_t> Synthesize(const ProgramModel& programs, std::span<const patch::CopySpan> copies) {
  patch::HeapBlock table;
  if (!patch::SynthesizeRelocations(programs.old_refs, programs.new_layout, copies,
                                    (programs.model & patch::kModelTablePadded) != 0, &table)) {
    throw std::bad_alloc();
  }
  return {table.data(), table.data() + table.size()};
}

// Where NEW's references say the old targets went, against where the copies take them:
// per old target, the new target most of its carried references name (the least delta
// of equal counts); a hint covers a run of targets that want the same delta, when it puts
// right at least kHintGain more references than it puts wrong.
std::vector<patch::TargetHint> FindTargetHints(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                               std::span<const patch::CopySpan> copies, const ProgramModel& programs) {
  constexpr int64_t kHintGain = 2;
  patch::Motion motion;
  if (!motion.Build(copies, old_data.size())) throw std::bad_alloc();
  if (motion.empty()) return {};
  struct Seen {
    uint32_t target, wanted, carried;  // the old target, and the deltas NEW names and the copies give
  };
  std::vector<Seen> seen;
  const patch::PeLayout& nl = programs.new_layout;
  patch::ForEachCarried(programs.old_refs, nl, copies, new_data.size(),
                        [&](const patch::Reference& r, uint32_t at, uint32_t at_rva) {
    uint64_t value = 0;
    for (uint32_t i = patch::RefWidth(r.kind); i-- > 0;) value = value << 8 | new_data[at + i];
    const uint64_t named = r.kind == patch::kRefRel32 ? uint64_t{at_rva} + 4 + value : value - nl.image_base;
    const uint32_t carried = patch::CarryTarget(programs.old_layout, nl, motion, r.target);
    seen.push_back({r.target, static_cast<uint32_t>(named) - r.target, carried - r.target});
  });
  std::sort(seen.begin(), seen.end(), [](const Seen& a, const Seen& b) {
    return a.target != b.target ? a.target < b.target : a.wanted < b.wanted;
  });
  struct Vote {
    uint32_t target, delta;
    int64_t gain;  // references right with `delta` less those right without a hint
  };
  std::vector<Vote> votes;
  for (size_t i = 0; i < seen.size();) {
    size_t j = i;
    int64_t best = 0, right = 0;
    uint32_t delta = 0;
    while (j < seen.size() && seen[j].target == seen[i].target) {
      size_t k = j;
      while (k < seen.size() && seen[k].target == seen[i].target && seen[k].wanted == seen[j].wanted) ++k;
      if (static_cast<int64_t>(k - j) > best) best = static_cast<int64_t>(k - j), delta = seen[j].wanted;
      if (seen[j].wanted == seen[j].carried) right = static_cast<int64_t>(k - j);
      j = k;
    }
    votes.push_back({seen[i].target, delta, best - right});
    i = j;
  }
  std::vector<patch::TargetHint> hints;
  for (size_t i = 0; i < votes.size();) {
    if (votes[i].gain <= 0) {
      ++i;
      continue;
    }
    size_t j = i + 1;
    int64_t gain = votes[i].gain;
    while (j < votes.size() && votes[j].delta == votes[i].delta) gain += votes[j++].gain;
    if (gain >= kHintGain) {
      hints.push_back({votes[i].target, votes[j - 1].target - votes[i].target + 1, votes[i].delta});
    }
    i = j;
  }
  return hints;
}

// A stretch of NEW: copied from `old` on, or new bytes (old < 0).
struct Piece {
  uint64_t start, length;
  int64_t old;
};

std::vector<Piece> PiecesOf(std::span<const ApproxBlock> blocks) {
  std::vector<Piece> pieces;
  uint64_t pos = 0;
  for (const ApproxBlock& b : blocks) {
    if (b.copy_length > 0) pieces.push_back({pos, b.copy_length, b.old_offset});
    pos += b.copy_length;
    if (b.new_length > 0) pieces.push_back({pos, b.new_length, -1});
    pos += b.new_length;
  }
  return pieces;
}

std::vector<ApproxBlock> BlocksOf(std::span<const Piece> pieces) {
  std::vector<ApproxBlock> blocks;
  for (const Piece& p : pieces) {
    if (p.length == 0) continue;
    if (p.old >= 0) {
      blocks.push_back({static_cast<uint32_t>(p.length), static_cast<uint32_t>(p.old), 0});
    } else if (!blocks.empty()) {
      blocks.back().new_length += static_cast<uint32_t>(p.length);
    } else {
      blocks.push_back({0, 0, static_cast<uint32_t>(p.length)});
    }
  }
  return blocks;
}

// The pieces that lie in [first, second), cut to it.
void AddCut(std::vector<Piece>& out, std::span<const Piece> pieces, uint64_t first, uint64_t second) {
  for (const Piece& p : pieces) {
    const uint64_t a = std::max(p.start, first), b = std::min(p.start + p.length, second);
    if (a < b) out.push_back({a, b - a, p.old < 0 ? -1 : p.old + static_cast<int64_t>(a - p.start)});
  }
}

}  // namespace

std::unique_ptr<ProgramModel> ModelPrograms(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                            uint8_t model) {
  auto m = std::make_unique<ProgramModel>();
  if (!patch::ReadPeLayout(old_data, &m->old_layout) || !patch::ReadPeLayout(new_data, &m->new_layout)) return nullptr;
  const auto extent = TableExtent(m->new_layout);
  m->model = model | patch::kModelNewBytesX86;
  if ((model & patch::kModelAbsolute) && extent.second > extent.first) {
    m->model |= patch::kModelTable | (TablePadded(new_data, extent) ? patch::kModelTablePadded : 0);
  }
  if (!patch::FindReferences(old_data, m->old_layout, model, &m->old_refs)) throw std::bad_alloc();
  return m;
}

std::vector<uint8_t> EncodeProgramBody(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                                       std::span<const ApproxBlock> blocks, const ProgramModel& programs,
                                       StreamsStats* stats) {
  const uint64_t old_size = old_data.size();
  const std::vector<patch::CopySpan> copies = CopiesOf(blocks, ~uint64_t{0}, new_data.size());
  const std::vector<uint8_t> table =
      (programs.model & patch::kModelTable) ? Synthesize(programs, copies) : std::vector<uint8_t>{};
  std::vector<uint8_t> predicted(new_data.size());
  for (const patch::CopySpan& c : copies) {
    const bool from_table = c.from >= old_size;
    if ((from_table ? c.from - old_size : uint64_t{c.from}) + c.length > (from_table ? table.size() : old_size)) {
      throw EntryError("internal fault: a copy reaches outside the old file or the synthesized table");
    }
    const uint8_t* from = from_table ? table.data() + (c.from - old_size) : old_data.data() + c.from;
    std::memcpy(predicted.data() + c.to, from, c.length);
  }
  const std::vector<patch::TargetHint> hints = FindTargetHints(old_data, new_data, copies, programs);
  if (!patch::ApplyPredictions(old_data, programs.old_layout, programs.old_refs, programs.new_layout, copies, hints,
                               predicted)) {
    throw std::bad_alloc();
  }
  std::vector<uint8_t> tail;
  uint64_t end = 0;
  for (const patch::TargetHint& h : hints) {
    PutVarint(tail, static_cast<uint32_t>(h.start - end));
    PutVarint(tail, h.length);
    PutVarint(tail, (h.delta << 1) ^ (0u - (h.delta >> 31)));
    end = uint64_t{h.start} + h.length;
  }
  // The new bytes as they are stored: the decoder reverses the branch transform over each
  // run of them on its own.
  patch::ForEachNewRun(copies, static_cast<uint32_t>(new_data.size()), [&](uint32_t at, uint32_t n) {
    std::memcpy(predicted.data() + at, new_data.data() + at, n);
    if (programs.model & patch::kModelNewBytesX86) patch::X86BranchesEncode(predicted.data() + at, n, at);
  });
  std::vector<uint8_t> body =
      EncodeStreamsBody(old_data, new_data, blocks, programs.model, stats, predicted.data(), tail);
  if (stats) {
    stats->references = programs.old_refs.count();
    stats->hints = static_cast<uint32_t>(hints.size());
  }
  return body;
}

NamedPrograms NameReferences(std::span<const uint8_t> old_data, std::span<const uint8_t> new_data,
                             std::span<const ApproxBlock> blocks, const ProgramModel& programs) {
  NamedPrograms named{{old_data.begin(), old_data.end()}, {new_data.begin(), new_data.end()}};
  const std::vector<patch::CopySpan> copies = CopiesOf(blocks, old_data.size(), new_data.size());
  patch::Motion motion;
  if (!motion.Build(copies, old_data.size())) throw std::bad_alloc();
  if (motion.empty()) return named;
  const std::vector<patch::TargetHint> hints = FindTargetHints(old_data, new_data, copies, programs);
  motion.SetHints(hints);
  for (const patch::Reference& r : programs.old_refs) {
    Put(named.old_named, r, patch::CarryTarget(programs.old_layout, programs.new_layout, motion, r.target));
  }
  // NEW's references by the same rules, for matching only.
  patch::ReferenceList new_refs;
  if (!patch::FindReferences(new_data, programs.new_layout, programs.model, &new_refs)) throw std::bad_alloc();
  for (const patch::Reference& r : new_refs) Put(named.new_named, r, r.target);
  return named;
}

std::vector<ApproxBlock> CopyRelocationsFromTable(std::span<const uint8_t> old_data,
                                                  std::span<const uint8_t> new_data,
                                                  std::span<const ApproxBlock> blocks, const ProgramModel& programs,
                                                  const ApproxOptions& options) {
  if ((programs.model & patch::kModelTable) == 0) return {blocks.begin(), blocks.end()};
  const auto [first, second] = TableExtent(programs.new_layout);
  // The table follows from the copies of the rest, which must not change after it is made.
  const std::vector<Piece> pieces = PiecesOf(blocks);
  std::vector<Piece> rest;
  AddCut(rest, pieces, 0, first);
  rest.push_back({first, second - first, -1});
  AddCut(rest, pieces, second, new_data.size());
  const std::vector<ApproxBlock> without = BlocksOf(rest);
  const std::vector<uint8_t> table = Synthesize(programs, CopiesOf(without, old_data.size(), new_data.size()));
  if (table.empty()) return without;
  const SuffixArray index(table);
  const std::vector<ApproxBlock> found = MatchApproximately(index, new_data.subspan(first, second - first), options);
  std::vector<Piece> spliced;
  AddCut(spliced, rest, 0, first);
  for (Piece p : PiecesOf(found)) {
    p.start += first;
    if (p.old >= 0) p.old += static_cast<int64_t>(old_data.size());
    spliced.push_back(p);
  }
  AddCut(spliced, rest, second, new_data.size());
  return BlocksOf(spliced);
}

}  // namespace producer
