// Small pieces the POSIX adapters share: Windows' way of comparing names, the
// owner of one file descriptor, and reading a file whole.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "platform/ascii.h"

namespace zentrova::platform::posix {

using platform::LowerAscii;
using platform::SameName;

// One open file descriptor, closed when the owner goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Appends what fd holds from where it stands to its end to data, but never
// more than limit bytes in all. 0, EFBIG when there is more, or the errno of
// the read that failed.
inline int ReadToEnd(int fd, std::size_t limit, std::string& data) {
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (data.size() + static_cast<std::size_t>(n) > limit) return EFBIG;
    data.append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace zentrova::platform::posix
