#include "platform/append_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zentrova::platform {

AppendFile::~AppendFile() { Close(); }

bool AppendFile::Open(const std::string& path, std::string& error) {
  Close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  handle_ = fd;
  return true;
}

bool AppendFile::Append(std::string_view line, std::string& error) {
  if (handle_ < 0) {
    error = "the file is not open";
    return false;
  }
  // One write per line keeps lines of processes sharing the file whole; a
  // short write (a full disk) is finished, not lost.
  while (!line.empty()) {
    const ssize_t n = ::write(static_cast<int>(handle_), line.data(), line.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? std::strerror(errno) : "nothing could be written";
      return false;
    }
    line.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void AppendFile::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

}  // namespace zentrova::platform
