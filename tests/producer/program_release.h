#pragma once
// Two releases of one made-up x86 program for the producer's tests: functions that call
// each other and take addresses from a data table, the table pointing back at functions,
// and a relocation table of every absolute address. The next release inserts a function
// in the middle and changes a few bytes, so every call, pointer and relocation behind the
// insertion moves, as between real releases.
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "tests/unit/pe_builder.h"

namespace test_support {

struct FunctionSpec {
  std::vector<uint8_t> code;  // its bytes, holes for the references left as they are
  std::vector<std::pair<uint32_t, uint32_t>> calls;      // (offset of the E8, callee)
  std::vector<std::pair<uint32_t, uint32_t>> addresses;  // (offset of the B8, data slot)
};

inline std::vector<FunctionSpec> MakeFunctions(uint32_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<FunctionSpec> fns(count);
  for (FunctionSpec& f : fns) {
    const uint32_t size = 64 + rng() % 192;
    // Plain bytes from a range that holds no branch opcode.
    for (uint32_t i = 0; i < size; ++i) f.code.push_back(static_cast<uint8_t>(0x40 + rng() % 0x40));
    for (uint32_t at = 8; at + 12 < size; at += 16 + rng() % 32) {
      if (rng() % 2) {
        f.calls.push_back({at, static_cast<uint32_t>(rng() % count)});
      } else {
        f.addresses.push_back({at, static_cast<uint32_t>(rng() % 64)});
      }
    }
    f.code.back() = 0xC3;
  }
  return fns;
}

// The program the functions make, with their references filled in for where they lie.
inline std::vector<uint8_t> LayOutProgram(const std::vector<FunctionSpec>& fns) {
  constexpr uint32_t kCode = 0x1000, kData = 0x40000, kRelocs = 0x50000;
  patchtest::PeSpec spec;
  std::vector<uint32_t> starts;
  uint32_t size = 0;
  for (const FunctionSpec& f : fns) starts.push_back(size), size += static_cast<uint32_t>(f.code.size());
  std::vector<uint8_t> code;
  std::vector<std::pair<uint32_t, uint16_t>> relocs;
  for (size_t i = 0; i < fns.size(); ++i) {
    std::vector<uint8_t> c = fns[i].code;
    for (const auto& [at, callee] : fns[i].calls) {
      c[at] = 0xE8;
      patchtest::PutLe(c, at + 1, starts[callee] - (starts[i] + at + 5), 4);
    }
    for (const auto& [at, slot] : fns[i].addresses) {
      c[at] = 0xB8;
      patchtest::PutLe(c, at + 1, spec.image_base + kData + 4 * slot, 4);
      relocs.push_back({kCode + starts[i] + at + 1, 3});
    }
    code.insert(code.end(), c.begin(), c.end());
  }
  std::vector<uint8_t> data(256, 0);
  for (uint32_t slot = 0; slot < 64; ++slot) {
    patchtest::PutLe(data, 4 * slot, spec.image_base + kCode + starts[(slot * 7) % fns.size()], 4);
    relocs.push_back({kData + 4 * slot, 3});
  }
  const std::vector<uint8_t> table = patchtest::RelocationTable(relocs, true);
  spec.sections = {{".text", kCode, code, true}, {".data", kData, data}, {".reloc", kRelocs, table}};
  spec.reloc_rva = kRelocs;
  spec.reloc_size = static_cast<uint32_t>(table.size());
  return patchtest::BuildPe(spec);
}

struct ProgramReleases {
  std::vector<uint8_t> old_file, new_file;
};

inline ProgramReleases MakeProgramReleases(uint32_t functions = 400, uint32_t seed = 7) {
  std::vector<FunctionSpec> fns = MakeFunctions(functions, seed);
  ProgramReleases r;
  r.old_file = LayOutProgram(fns);
  std::vector<FunctionSpec> added = MakeFunctions(1, seed + 1);
  fns.insert(fns.begin() + functions / 2, added[0]);
  for (auto& f : fns) {
    for (auto& call : f.calls) call.second += call.second >= functions / 2;
  }
  fns[functions / 4].code[3] ^= 0x11;
  r.new_file = LayOutProgram(fns);
  return r;
}

}  // namespace test_support
