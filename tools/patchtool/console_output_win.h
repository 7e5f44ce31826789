#pragma once
// The tool's UTF-8 output on Windows. To a console it is written as UTF-16 with
// WriteConsoleW, so every character shows whatever the console's code page; redirected to a
// file or a pipe it stays the UTF-8 bytes the native tool writes ("\n" line ends, no
// translation by the C runtime), so scripts read the same bytes on both systems.
#include <windows.h>

#include <streambuf>
#include <string>

namespace patchtool {

class ConsoleOutput final : public std::streambuf {
 public:
  explicit ConsoleOutput(DWORD which);  // STD_OUTPUT_HANDLE or STD_ERROR_HANDLE
  ~ConsoleOutput() override;
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;

  bool is_console() const { return console_; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* data, std::streamsize n) override;
  int sync() override;

 private:
  void Write(bool everything);

  HANDLE handle_;
  bool console_;
  std::string pending_;
};

}  // namespace patchtool
