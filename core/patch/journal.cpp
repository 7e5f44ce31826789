#include "core/patch/journal.h"

#include <cstring>

#include "core/patch/checksum.h"
#include "core/patch/little_endian.h"
#include "core/patch/messages.h"

namespace patch {
namespace {

constexpr uint8_t kMagic[4] = {'U', 'P', 'T', 'X'};
constexpr uint16_t kRecordVersion = 1;
constexpr uint32_t kHeadSize = 20;
constexpr uint32_t kItemSize = 40;
constexpr uint8_t kKeepBackup = 0x01;
constexpr uint8_t kInWindows = 0x02;

// The folder an item's path is relative to.
const char* BaseOf(bool in_windows, const char* own_folder, const char* windows_folder) {
  return in_windows ? windows_folder : own_folder;
}

}  // namespace

RecordHead HeadOfChain(Image image, uint32_t first_entry) {
  RecordHead head;
  if (first_entry <= image.size()) {
    head.chain_size = static_cast<uint32_t>(image.size() - first_entry);
    head.chain_crc = PatchChecksum(image.data() + first_entry, head.chain_size);
  }
  return head;
}

bool MakeRecordPath(const char* own_folder, bool draft, char* out, size_t capacity) {
  PathBuilder b(out, capacity);
  b.Append(own_folder);
  b.Append(msg::kWorkFileStem);
  b.Append(".");
  b.Append(draft ? msg::kRecordDraftExtension : msg::kRecordExtension);
  return b.ok();
}

bool WriteRecord(FilePlatform& files, const char* own_folder, const char* windows_folder, const RecordHead& head,
                 const TxItems& items) {
  char draft[kPathCapacity], record[kPathCapacity];
  if (!MakeRecordPath(own_folder, true, draft, sizeof draft) ||
      !MakeRecordPath(own_folder, false, record, sizeof record)) {
    return false;
  }
  uint64_t size = kHeadSize + 4;
  for (uint32_t i = 0; i < items.size(); ++i) {
    const TxItem& item = items[i];
    const char* base = BaseOf(item.in_windows, own_folder, windows_folder);
    size += kItemSize + std::strlen(item.target) - std::strlen(base);
  }
  HeapBlock bytes;
  if (size > 0xFFFFFFFFu || !bytes.Allocate(size)) return false;
  uint8_t* p = bytes.data();
  std::memcpy(p, kMagic, 4);
  Write16(p + 4, kRecordVersion);
  Write16(p + 6, 0);
  Write32(p + 8, head.chain_crc);
  Write32(p + 12, head.chain_size);
  Write32(p + 16, items.size());
  p += kHeadSize;
  for (uint32_t i = 0; i < items.size(); ++i) {
    const TxItem& item = items[i];
    const char* relative = item.target + std::strlen(BaseOf(item.in_windows, own_folder, windows_folder));
    const uint32_t length = static_cast<uint32_t>(std::strlen(relative));
    p[0] = static_cast<uint8_t>(item.kind);
    p[1] = static_cast<uint8_t>((item.keep_backup ? kKeepBackup : 0) | (item.in_windows ? kInWindows : 0));
    Write16(p + 2, length);
    Write32(p + 4, item.number);
    Write32(p + 8, item.old_crc);
    Write32(p + 12, item.old_size);
    Write32(p + 16, item.new_crc);
    Write32(p + 20, item.new_size);
    Write32(p + 24, static_cast<uint32_t>(item.old_time));
    Write32(p + 28, static_cast<uint32_t>(item.old_time >> 32));
    Write16(p + 32, static_cast<uint16_t>(item.new_stamp.year));
    const int8_t stamp[5] = {item.new_stamp.month, item.new_stamp.day, item.new_stamp.hour, item.new_stamp.minute,
                             item.new_stamp.second};
    std::memcpy(p + 34, stamp, 5);
    p[39] = 0;
    std::memcpy(p + kItemSize, relative, length);
    p += kItemSize + length;
  }
  Write32(p, PatchChecksum(bytes.data(), static_cast<size_t>(size - 4)));

  OutputFile file;
  if (!files.CreateOutput(draft, &file)) return false;
  const bool written = files.WriteOutput(file, bytes.data(), static_cast<uint32_t>(size)) && files.FlushOutput(file);
  files.CloseOutput(file);
  if (!written || !files.RenameFile(draft, record)) {
    files.RemoveFile(draft);
    return false;
  }
  files.FlushFolder(record);
  return true;
}

RecordRead ReadRecord(FilePlatform& files, const char* own_folder, const char* windows_folder, RecordHead* head,
                      TxItems* items) {
  char record[kPathCapacity];
  if (!MakeRecordPath(own_folder, false, record, sizeof record)) return RecordRead::None;
  if (files.Find(record) == FoundKind::None) return RecordRead::None;
  FileBlock block;
  if (files.LoadWholeFile(record, &block) != LoadResult::Ok) return RecordRead::Unusable;

  RecordRead read = RecordRead::Unusable;
  const uint8_t* p = block.data;
  const uint32_t size = block.size;
  if (size >= kHeadSize + 4 && std::memcmp(p, kMagic, 4) == 0 && Read16(p + 4) == kRecordVersion &&
      Read32(p + size - 4) == PatchChecksum(p, size - 4)) {
    head->chain_crc = Read32(p + 8);
    head->chain_size = Read32(p + 12);
    const uint32_t count = Read32(p + 16);
    uint64_t pos = kHeadSize;
    bool whole = count <= (size - kHeadSize - 4) / kItemSize;
    for (uint32_t i = 0; whole && i < count; ++i) {
      if (pos + kItemSize > size - 4) {
        whole = false;
        break;
      }
      const uint8_t* q = p + pos;
      const uint32_t length = Read16(q + 2);
      const uint8_t kind = q[0];
      TxItem* item = (pos + kItemSize + length <= size - 4) ? items->Add() : nullptr;
      if (item == nullptr || kind < static_cast<uint8_t>(ItemKind::Replace) ||
          kind > static_cast<uint8_t>(ItemKind::MakeFolder)) {
        whole = false;
        break;
      }
      item->kind = static_cast<ItemKind>(kind);
      item->keep_backup = (q[1] & kKeepBackup) != 0;
      item->in_windows = (q[1] & kInWindows) != 0;
      item->number = Read32(q + 4);
      item->old_crc = Read32(q + 8);
      item->old_size = Read32(q + 12);
      item->new_crc = Read32(q + 16);
      item->new_size = Read32(q + 20);
      item->old_time = uint64_t{Read32(q + 24)} | (uint64_t{Read32(q + 28)} << 32);
      item->new_stamp.year = static_cast<int16_t>(Read16(q + 32));
      int8_t stamp[5];
      std::memcpy(stamp, q + 34, 5);
      item->new_stamp.month = stamp[0];
      item->new_stamp.day = stamp[1];
      item->new_stamp.hour = stamp[2];
      item->new_stamp.minute = stamp[3];
      item->new_stamp.second = stamp[4];
      const char* base = BaseOf(item->in_windows, own_folder, windows_folder);
      PathBuilder b(item->target, sizeof item->target);
      if (base != nullptr) b.Append(base);
      b.Append(reinterpret_cast<const char*>(q + kItemSize), length);
      // A zero inside the name would make another path than the record's.
      if (base == nullptr || !b.ok() || length == 0 || std::memchr(q + kItemSize, 0, length) != nullptr) whole = false;
      char work[kPathCapacity];
      if (!TempPathOf(*item, work, sizeof work) || !RollbackPathOf(*item, work, sizeof work)) whole = false;
      pos += kItemSize + length;
    }
    if (whole && pos == size - 4) read = RecordRead::Ok;
  }
  files.ReleaseBlock(&block);
  return read;
}

void RemoveRecord(FilePlatform& files, const char* own_folder) {
  char record[kPathCapacity];
  if (!MakeRecordPath(own_folder, false, record, sizeof record)) return;
  files.RemoveFile(record);
  files.FlushFolder(record);
}

}  // namespace patch
