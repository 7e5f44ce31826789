#pragma once
// The monthly withholding table of the demo application, computed while compiling so
// that it lies in .rdata as a plain constant. It gives the program a realistic size
// and gives an update between the two versions both long shared runs (rows that did not
// change, some of them moved) and new bytes (a revised band and added rows).
#include <array>
#include <cstdint>

#ifndef LUNDER_VERSION
#error "LUNDER_VERSION (1 or 2) must be set by the build"
#endif

namespace lunder {

constexpr int kDependentColumns = 8;

struct TaxRow {
  uint32_t income_from;  // yen per month, inclusive
  uint32_t income_to;    // yen per month, exclusive
  uint32_t tax[kDependentColumns];  // by number of dependents, 0 to 7
};

constexpr uint32_t kBaseRows = 10000;
constexpr uint32_t kRevisedFirst = 1500;  // Ver2.0 revises this band of rows
constexpr uint32_t kRevisedCount = 300;
constexpr uint32_t kInsertAfter = 6000;   // Ver2.0 adds finer rows after this one
constexpr uint32_t kInsertedRows = 240;

#if LUNDER_VERSION >= 2
constexpr uint32_t kRowCount = kBaseRows + kInsertedRows;
#else
constexpr uint32_t kRowCount = kBaseRows;
#endif

// Mixes a row key into well-spread bits; rows depend only on their key, so a row keeps
// its bytes when rows are inserted before it.
constexpr uint32_t Mix(uint32_t key) {
  uint64_t z = key + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return static_cast<uint32_t>(z ^ (z >> 31));
}

struct Bracket {
  uint32_t up_to;
  uint32_t percent;
};
// Monthly brackets before and after the rate change that Ver2.0 brings.
constexpr Bracket kOldBrackets[] = {{275000, 10}, {750000, 20}, {1500000, 30}, {0xFFFFFFFFu, 37}};
constexpr Bracket kNewBrackets[] = {{162500, 5},  {275000, 10},  {579167, 20},
                                    {750000, 23}, {1500000, 33}, {0xFFFFFFFFu, 40}};

// Progressive tax on a monthly taxable amount; `revised` is the Ver2.0 band.
constexpr uint32_t TaxOn(uint32_t taxable, bool revised) {
  uint64_t tax = 0;
  uint32_t lower = 0;
  const Bracket* table = revised ? kNewBrackets : kOldBrackets;
  const int count = revised ? 6 : 4;
  for (int i = 0; i < count && taxable > lower; ++i) {
    const uint32_t upper = taxable < table[i].up_to ? taxable : table[i].up_to;
    tax += static_cast<uint64_t>(upper - lower) * table[i].percent / 100;
    lower = table[i].up_to;
  }
  return static_cast<uint32_t>(tax);
}

constexpr TaxRow MakeRow(uint32_t key, uint32_t from, uint32_t width, bool revised) {
  TaxRow row{};
  row.income_from = from;
  row.income_to = from + width;
  const uint32_t noise = Mix(key);
  for (int d = 0; d < kDependentColumns; ++d) {
    const uint32_t deduction = 88000 + static_cast<uint32_t>(d) * 31667;
    const uint32_t taxable = from > deduction ? from - deduction : 0;
    const uint32_t tax = TaxOn(taxable, revised);
    // Rounding of the printed table differs row by row; the low bits carry it.
    row.tax[d] = tax == 0 ? 0 : (tax / 10) * 10 + ((noise >> (d * 4)) & 7);
  }
  return row;
}

constexpr std::array<TaxRow, kRowCount> MakeTaxTable() {
  std::array<TaxRow, kRowCount> rows{};
  uint32_t out = 0;
  for (uint32_t k = 0; k < kBaseRows; ++k) {
    const uint32_t from = 88000 + k * 1000;
    const bool revised = LUNDER_VERSION >= 2 && k >= kRevisedFirst && k < kRevisedFirst + kRevisedCount;
    rows[out++] = MakeRow(k, from, 1000, revised);
#if LUNDER_VERSION >= 2
    if (k == kInsertAfter) {
      for (uint32_t j = 0; j < kInsertedRows; ++j)
        rows[out++] = MakeRow(1000000 + j, from + 1000 + j * 4, 4, true);
    }
#endif
  }
  return rows;
}

inline constexpr std::array<TaxRow, kRowCount> kTaxTable = MakeTaxTable();

}  // namespace lunder
