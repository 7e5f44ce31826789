#include "tools/patchtool/console_output_win.h"

#include "tools/patchtool/utf8_prefix.h"

namespace patchtool {
namespace {

constexpr size_t kWriteAt = 16384;

}  // namespace

ConsoleOutput::ConsoleOutput(DWORD which) : handle_(GetStdHandle(which)) {
  DWORD mode = 0;
  console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE && GetConsoleMode(handle_, &mode);
}

ConsoleOutput::~ConsoleOutput() { Write(true); }

ConsoleOutput::int_type ConsoleOutput::overflow(int_type c) {
  if (c != traits_type::eof()) {
    pending_ += traits_type::to_char_type(c);
    if (pending_.size() >= kWriteAt) Write(false);
  }
  return traits_type::not_eof(c);
}

std::streamsize ConsoleOutput::xsputn(const char* data, std::streamsize n) {
  pending_.append(data, static_cast<size_t>(n));
  if (pending_.size() >= kWriteAt) Write(false);
  return n;
}

int ConsoleOutput::sync() {
  Write(true);
  return 0;
}

void ConsoleOutput::Write(bool everything) {
  if (pending_.empty() || handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) {
    pending_.clear();
    return;
  }
  if (!console_) {
    DWORD written = 0;
    size_t done = 0;
    while (done < pending_.size() &&
           WriteFile(handle_, pending_.data() + done, DWORD(pending_.size() - done), &written, nullptr) && written > 0) {
      done += written;
    }
    pending_.clear();
    return;
  }
  const size_t whole = everything ? pending_.size() : WholeUtf8Prefix(pending_);
  // Bytes that are no UTF-8 (none the tool writes) show as replacement characters.
  const int n = MultiByteToWideChar(CP_UTF8, 0, pending_.data(), int(whole), nullptr, 0);
  if (n > 0) {
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, pending_.data(), int(whole), wide.data(), n);
    DWORD written = 0;
    size_t done = 0;
    while (done < wide.size() &&
           WriteConsoleW(handle_, wide.data() + done, DWORD(wide.size() - done), &written, nullptr) && written > 0) {
      done += written;
    }
  }
  pending_.erase(0, whole);
}

}  // namespace patchtool
