#pragma once
// Sorting fixed-size records in place for the program-aware body's decoder. One heapsort
// behind a comparison function serves every kind of record: no memory, no recursion and
// one small copy of the code, which the applier's size needs more than speed. Records
// that are in order already (relocations and the scan of code usually are) cost one pass.
#include <cstddef>

namespace patch {

using RecordLess = bool (*)(const void* a, const void* b);

// `size` is at most 16 bytes. `less` must be a total order for the result to be one
// arrangement only (heapsort keeps no order among equal records).
void SortRecords(void* records, size_t count, size_t size, RecordLess less);

}  // namespace patch
