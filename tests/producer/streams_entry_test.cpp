// The compressed-streams producer: every entry it writes is rebuilt with the applier's
// own reader and decoder; on program-like data with shifted addresses it must beat the
// record format clearly, which is the reason it exists.
#include <gtest/gtest.h>

#include "core/patch/format.h"
#include "core/patch/memory_platform.h"
#include "core/producer/entry_writer.h"
#include "core/producer/matcher.h"
#include "core/producer/streams_entry.h"
#include "test_support.h"

namespace {

using test_support::Bytes;
using test_support::ProgramLikeBytes;
using test_support::RandomBytes;
using Transform = producer::StreamsOptions::Transform;

const producer::UpdateEntryText kText{"Lunder19.exe", "update"};
const producer::Stamp kStamp{2008, 1, 30, 16, 48, 9};

// A next release: some code inserted and removed, and every 32-bit value that looks like
// an address into the shifted part moved by the size of the insertion.
Bytes NextRelease(const Bytes& old_data) {
  Bytes out(old_data.begin(), old_data.begin() + old_data.size() / 3);
  const Bytes inserted = RandomBytes(700, 9);
  out.insert(out.end(), inserted.begin(), inserted.end());
  out.insert(out.end(), old_data.begin() + old_data.size() / 3 + 200, old_data.end());
  for (size_t i = 0; i + 4 <= out.size(); i += 64) {
    uint32_t v = out[i] | (out[i + 1] << 8) | (out[i + 2] << 16) | (uint32_t{out[i + 3]} << 24);
    v += 500;
    for (int k = 0; k < 4; ++k) out[i + k] = static_cast<uint8_t>(v >> (8 * k));
  }
  return out;
}

Bytes Rebuild(const Bytes& entry, const Bytes& old_data) {
  patch::EntryHeader h;
  EXPECT_EQ(patch::ParseEntryHeader(entry, 0, &h), patch::HeaderOutcome::Ok);
  EXPECT_EQ(h.format_version, 200u);
  Bytes rebuilt;
  std::string why;
  EXPECT_TRUE(patch::RebuildEntryInMemory(entry, h, old_data, &rebuilt, &why)) << why;
  patch::BodySummary s;
  EXPECT_EQ(patch::WalkBody(entry, h, nullptr, &s), patch::BodyOutcome::Ok);
  EXPECT_EQ(patch::ChainStep(entry, s.end), patch::ChainOutcome::Complete);  // self-delimiting
  return rebuilt;
}

TEST(StreamsEntry, RoundTripsEveryShapeOfInput) {
  const Bytes program = ProgramLikeBytes(60'000, 3);
  Bytes mz = program;
  mz[0] = 'M', mz[1] = 'Z';
  struct Case {
    const char* what;
    Bytes old_data, new_data;
    Transform transform;
  } cases[] = {
      {"identical", program, program, Transform::Auto},
      {"next release", program, NextRelease(program), Transform::None},
      {"next release, x86 transform", program, NextRelease(program), Transform::X86Branches},
      {"program header chooses the transform", mz, NextRelease(mz), Transform::Auto},
      {"unrelated contents", RandomBytes(5000, 1), RandomBytes(7000, 2), Transform::Auto},
      {"empty old file", {}, program, Transform::Auto},
      {"empty new file", program, {}, Transform::Auto},
      {"both empty", {}, {}, Transform::X86Branches},
      {"one byte", {1}, {2}, Transform::Auto},
  };
  for (const Case& c : cases) {
    producer::StreamsOptions options;
    options.transform = c.transform;
    producer::StreamsStats stats;
    const Bytes entry = producer::MakeStreamsEntry(c.old_data, c.new_data, kText, kStamp, options, &stats);
    EXPECT_EQ(Rebuild(entry, c.old_data), c.new_data) << c.what;
    EXPECT_EQ(stats.entry_size, entry.size()) << c.what;
  }
}

TEST(StreamsEntry, ShiftedAddressesCostFarLessThanRecords) {
  const Bytes old_data = ProgramLikeBytes(400'000, 5);
  const Bytes new_data = NextRelease(old_data);
  const Bytes streams = producer::MakeStreamsEntry(old_data, new_data, kText, kStamp);
  const Bytes records = producer::MakeUpdateEntry(*producer::MakeHashMatcher(), old_data, new_data, kText, kStamp);
  EXPECT_EQ(Rebuild(streams, old_data), new_data);
  EXPECT_LT(streams.size() * 3, records.size()) << streams.size() << " against " << records.size();
}

TEST(StreamsEntry, KeepsTheSmallestBodyOfTheMarginsTried) {
  const Bytes old_data = ProgramLikeBytes(200'000, 11);
  const Bytes new_data = NextRelease(old_data);
  auto make = [&](std::vector<uint32_t> margins, producer::StreamsStats* stats = nullptr) {
    producer::StreamsOptions options;
    options.switch_margins = std::move(margins);
    return producer::MakeStreamsEntry(old_data, new_data, kText, kStamp, options, stats);
  };
  size_t smallest = SIZE_MAX;
  for (uint32_t m : {1u, 8u, 64u}) smallest = std::min(smallest, make({m}).size());
  producer::StreamsStats stats;
  const Bytes best = make({1, 8, 64}, &stats);
  EXPECT_EQ(best.size(), smallest);
  EXPECT_EQ(best, make({stats.switch_margin}));
  EXPECT_EQ(Rebuild(best, old_data), new_data);
}

TEST(StreamsEntry, InputsNoEntryCanCarryAreRefused) {
  producer::UpdateEntryText no_name{"", "x"};
  EXPECT_THROW(producer::MakeStreamsEntry({}, {}, no_name, kStamp), producer::EntryError);
  EXPECT_THROW(producer::MakeStreamsEntry({}, {}, kText, producer::Stamp{2008, 2, 30, 0, 0, 0}), producer::EntryError);
}

}  // namespace
