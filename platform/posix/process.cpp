#include "platform/process.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace zentrova::platform {

bool ExecutablePath(std::string& path) {
  std::vector<char> buf(4096);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= buf.size()) return false;
  path.assign(buf.data(), static_cast<std::size_t>(n));
  return true;
}

bool ChangeCurrentDirectory(const std::string& directory, std::string* message) {
  if (chdir(directory.c_str()) == 0) return true;
  if (message) *message = std::strerror(errno);
  return false;
}

bool ReadFileVersion(FileVersion& version) {
  // The build passes the project's version; an ELF file has no version resource.
  version.part[0] = ZV_VERSION_MAJOR;
  version.part[1] = ZV_VERSION_MINOR;
  version.part[2] = ZV_VERSION_PATCH;
  version.part[3] = ZV_VERSION_TWEAK;
  return true;
}

}  // namespace zentrova::platform
