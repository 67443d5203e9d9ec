// Small pieces the POSIX adapters share: Windows' way of comparing names, and
// the owner of one file descriptor.
#pragma once

#include <unistd.h>

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

}  // namespace zentrova::platform::posix
