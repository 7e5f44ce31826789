// patchtool.exe: the wide command line, as UTF-8, into the same commands as the native tool.
#include <windows.h>

#include <ostream>

#include "tools/patchtool/console_output_win.h"
#include "tools/patchtool/tool.h"
#include "tools/patchtool/wide_text_win.h"

int wmain(int argc, wchar_t** argv) {
  patchtool::ConsoleOutput out_buffer(STD_OUTPUT_HANDLE);
  patchtool::ConsoleOutput err_buffer(STD_ERROR_HANDLE);
  std::ostream out(&out_buffer);
  std::ostream err(&err_buffer);
  err.setf(std::ios::unitbuf);

  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    auto utf8 = patchtool::WideToUtf8(argv[i]);
    if (!utf8) {
      err << "patchtool: argument " << i << " is not valid text (a broken UTF-16 surrogate)\n";
      return patchtool::kExitUsage;
    }
    args.push_back(std::move(*utf8));
  }
  const int code = patchtool::RunTool(args, out, err);
  out.flush();
  return code;
}
