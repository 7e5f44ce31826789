#include "core/patch/record_sort.h"

#include <cstdint>
#include <cstring>

namespace patch {
namespace {

void Swap(uint8_t* a, uint8_t* b, size_t size) {
  uint8_t t[16];
  std::memcpy(t, a, size);
  std::memcpy(a, b, size);
  std::memcpy(b, t, size);
}

// Lets the record at `root` sink until both records below it are no greater.
void SiftDown(uint8_t* r, size_t root, size_t count, size_t size, RecordLess less) {
  for (size_t child; (child = 2 * root + 1) < count; root = child) {
    if (child + 1 < count && less(r + child * size, r + (child + 1) * size)) ++child;
    if (!less(r + root * size, r + child * size)) return;
    Swap(r + root * size, r + child * size, size);
  }
}

}  // namespace

void SortRecords(void* records, size_t count, size_t size, RecordLess less) {
  uint8_t* const r = static_cast<uint8_t*>(records);
  size_t i = 1;
  while (i < count && !less(r + i * size, r + (i - 1) * size)) ++i;
  if (i >= count) return;
  for (size_t k = count / 2; k-- > 0;) SiftDown(r, k, count, size, less);
  for (size_t end = count; end-- > 1;) {
    Swap(r, r + end * size, size);
    SiftDown(r, 0, end, size, less);
  }
}

}  // namespace patch
