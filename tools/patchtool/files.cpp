#include "tools/patchtool/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "tools/patchtool/tool.h"

namespace patchtool {
namespace {

std::string Reason(int error) { return std::strerror(error); }

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace

Bytes ReadWholeFile(const std::string& path, const char* what, bool below_four_gib, size_t zeros_before) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw ToolError(std::string("cannot open ") + what + " " + path + ": " + Reason(errno));
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) throw ToolError(std::string("cannot stat ") + what + " " + path + ": " + Reason(errno));
  if (!S_ISREG(st.st_mode)) throw ToolError(std::string(what) + " " + path + " is not a regular file");
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (below_four_gib && size >= kFourGiB) {
    throw ToolError(std::string(what) + " " + path + " is " + std::to_string(size) +
                    " bytes; the patch format holds files below 4 GiB only");
  }
  Bytes bytes(zeros_before + size);
  size_t done = zeros_before;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw ToolError(std::string("cannot read ") + what + " " + path + ": " + Reason(errno));
    if (n == 0) throw ToolError(std::string(what) + " " + path + " became shorter while it was read");
    done += static_cast<size_t>(n);
  }
  return bytes;
}

void WriteWholeFile(const std::string& path, const Bytes& bytes) {
  std::string temp = path + ".XXXXXX";
  Fd fd(::mkstemp(temp.data()));
  if (fd.get() < 0) throw ToolError("cannot create a file beside " + path + ": " + Reason(errno));
  const auto fail = [&](const std::string& message) {
    ::unlink(temp.c_str());
    throw ToolError(message);
  };
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail("cannot write " + path + ": " + Reason(n < 0 ? errno : EIO));
    done += static_cast<size_t>(n);
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd.get(), 0666 & ~mask);
  if (::close(fd.release()) != 0) fail("cannot write " + path + ": " + Reason(errno));
  if (::rename(temp.c_str(), path.c_str()) != 0) fail("cannot write " + path + ": " + Reason(errno));
}

std::string BaseName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

LocalTime LastWriteTime(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) throw ToolError("cannot read the last-write time of " + path + ": " + Reason(errno));
  struct tm local;
  if (::localtime_r(&st.st_mtime, &local) == nullptr) throw ToolError("cannot convert the last-write time of " + path);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
          local.tm_sec > 59 ? 59 : local.tm_sec};
}

void RemoveQuietly(const std::string& path) { ::unlink(path.c_str()); }

}  // namespace patchtool
