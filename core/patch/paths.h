#pragma once
// The applier's path rules: its own folder, where an entry's target lies, and the names of
// the files it works with beside a target. Every path lives in a fixed buffer; a rule
// whose result would not fit leaves a safely cut, still terminated copy and says so.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/patch/format.h"
#include "core/text/cp932.h"

namespace patch {

constexpr size_t kPathCapacity = 512;           // own, target and work file paths
constexpr size_t kWindowsFolderCapacity = 256;  // the Windows folder

// Writes pieces into a fixed buffer. A piece that does not fit is cut at a character
// boundary and the builder remembers the overflow, so the buffer always holds a
// terminated, displayable path and is never overrun.
class PathBuilder {
 public:
  PathBuilder(char* out, size_t capacity) : out_(out), capacity_(capacity) {
    if (capacity_ > 0) out_[0] = '\0';
    ok_ = capacity_ > 0;
  }
  void Append(const char* s, size_t n) {
    if (!ok_) return;
    const size_t room = capacity_ - 1 - length_;
    if (n > room) {
      n = text::FitCharacters(s, n, room);
      ok_ = false;
    }
    std::memcpy(out_ + length_, s, n);
    length_ += n;
    out_[length_] = '\0';
  }
  void Append(const char* s) { Append(s, std::strlen(s)); }
  void AppendDecimal(uint32_t value);
  bool ok() const { return ok_; }

 private:
  char* out_;
  size_t capacity_;
  size_t length_ = 0;
  bool ok_ = true;
};

// The part of a path up to and including its last real backslash (0 when none).
size_t FolderLength(const char* path);

// The applier's folder: `own_path` cut right after its last real backslash.
bool MakeOwnFolder(const char* own_path, char* out, size_t capacity);

// The four forms of target_folder. `windows_folder` may be null when unknown: a "*"
// folder then cannot be resolved and false is returned.
bool ResolveTargetPath(const EntryHeader& header, const char* own_folder, const char* windows_folder,
                       char* out, size_t capacity);

// The target's folder followed by "UPDATE.TMP".
bool MakeTempPath(const char* target_path, char* out, size_t capacity);

// The target path cut after the first dot of its file name (a dot appended when it has
// none), followed by "OLD": a.b.c gives a.OLD, README gives README.OLD.
bool MakeBackupPath(const char* target_path, char* out, size_t capacity);

// A work file of the update beside `path`: "UPDATE." + `extension` for number 0 (the name
// the single file of an update has always used), "UPDATE" + number + "." + `extension`
// after it. Each target of an update has its own number.
bool MakeWorkPath(const char* path, uint32_t number, const char* extension, char* out, size_t capacity);

// Whether the file name of `path` has the form of an update's work file (any number, any
// of the given extensions): such a target would be overwritten as one.
bool IsWorkFileName(const char* path);

}  // namespace patch
