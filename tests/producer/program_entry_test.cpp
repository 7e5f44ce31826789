// The program-aware producer (3.00): every entry is rebuilt by the applier's own reader and
// decoder; between two releases of a program it must be far smaller than 2.00, never
// larger, and where either file is no program it must fall back to 2.00.
#include <gtest/gtest.h>

#include "core/patch/format.h"
#include "core/patch/memory_platform.h"
#include "core/producer/streams_entry.h"
#include "program_release.h"
#include "test_support.h"

namespace {

using test_support::Bytes;

const producer::UpdateEntryText kText{"Lunder19.exe", "update"};
const producer::Stamp kStamp{2008, 1, 30, 16, 48, 9};

struct Made {
  Bytes entry;
  producer::StreamsStats stats;
};

Made MakeProgramEntry(const Bytes& old_data, const Bytes& new_data) {
  producer::StreamsOptions options;
  options.program_body = true;
  Made m;
  m.entry = producer::MakeStreamsEntry(old_data, new_data, kText, kStamp, options, &m.stats);
  return m;
}

// The version the entry says it is, and what the applier's decoder makes of it.
std::pair<uint32_t, Bytes> Rebuild(const Bytes& entry, const Bytes& old_data) {
  patch::EntryHeader h;
  EXPECT_EQ(patch::ParseEntryHeader(entry, 0, &h), patch::HeaderOutcome::Ok);
  Bytes rebuilt;
  std::string why;
  EXPECT_TRUE(patch::RebuildEntryInMemory(entry, h, old_data, &rebuilt, &why)) << why;
  patch::BodySummary s;
  EXPECT_EQ(patch::WalkBody(entry, h, nullptr, &s), patch::BodyOutcome::Ok);
  EXPECT_EQ(patch::ChainStep(entry, s.end), patch::ChainOutcome::Complete);
  return {h.format_version, rebuilt};
}

TEST(ProgramEntry, MovedCodeCostsLittleMoreThanTheCodeAdded) {
  const test_support::ProgramReleases r = test_support::MakeProgramReleases();
  const Made made = MakeProgramEntry(r.old_file, r.new_file);
  const auto [version, rebuilt] = Rebuild(made.entry, r.old_file);
  EXPECT_EQ(version, patch::kProgramFormatVersion);
  EXPECT_EQ(rebuilt, r.new_file);
  EXPECT_EQ(made.stats.format_version, patch::kProgramFormatVersion);
  EXPECT_GT(made.stats.references, 1000u);
  // One function of at most 256 bytes was added: 2.00 pays for every moved reference.
  EXPECT_LT(made.entry.size() * 4, made.stats.smallest_2_00) << made.entry.size() << " against 2.00's "
                                                              << made.stats.smallest_2_00;
  // The same files give the same entry.
  EXPECT_EQ(MakeProgramEntry(r.old_file, r.new_file).entry, made.entry);
}

TEST(ProgramEntry, FallsBackTo2WhereItDoesNotPayOrCannotModel) {
  const test_support::ProgramReleases r = test_support::MakeProgramReleases(60, 3);
  const Bytes plain = test_support::ProgramLikeBytes(20'000, 4);
  Bytes broken = r.new_file;
  broken[0x3C] = 0xFF;  // no PE header where the DOS header says
  struct Case {
    const char* what;
    Bytes old_data, new_data;
    uint32_t version;
  } cases[] = {
      {"no programs", plain, test_support::ProgramLikeBytes(20'000, 5), patch::kStreamsFormatVersion},
      {"new file no program", r.old_file, broken, patch::kStreamsFormatVersion},
      {"old file no program", broken, r.new_file, patch::kStreamsFormatVersion},
      {"identical programs", r.old_file, r.old_file, 0},
      {"empty new file", r.old_file, {}, patch::kStreamsFormatVersion},
  };
  for (const Case& c : cases) {
    const Made made = MakeProgramEntry(c.old_data, c.new_data);
    const auto [version, rebuilt] = Rebuild(made.entry, c.old_data);
    EXPECT_EQ(rebuilt, c.new_data) << c.what;
    if (c.version != 0) {
      EXPECT_EQ(version, c.version) << c.what;
    }
    EXPECT_EQ(made.stats.format_version, version) << c.what;
    // Never larger than the 2.00 entry made beside it.
    if (made.stats.smallest_2_00 > 0) {
      EXPECT_LE(made.entry.size(), made.stats.smallest_2_00) << c.what;
    }
  }
}

}  // namespace
