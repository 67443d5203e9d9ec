#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/support.h"

namespace zentrova::platform {
namespace {

using posix::FileDescriptor;

// A profile is a few lines of settings; anything larger is not one.
constexpr std::size_t kMaxProfileBytes = 1 << 20;

}  // namespace

ProfileLoad LoadProfileFile(const std::string& path, ProfileFile& file, std::string& error) {
  file = ProfileFile{};
  FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return ProfileLoad::kMissing;
    error = "cannot read " + path + ": " + std::strerror(errno);
    return ProfileLoad::kFailed;
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return ProfileLoad::kFailed;
  }
  if (!S_ISREG(st.st_mode)) return ProfileLoad::kMissing;
  if (static_cast<unsigned long long>(st.st_size) > kMaxProfileBytes) {
    error = path + " is " + std::to_string(st.st_size) +
            " bytes long; a settings file of more than " + std::to_string(kMaxProfileBytes) +
            " bytes is not read";
    return ProfileLoad::kFailed;
  }
  file.othersCanRead = (st.st_mode & S_IROTH) != 0;
  if (int failure = posix::ReadToEnd(fd.get(), kMaxProfileBytes, file.bytes)) {
    error = failure == EFBIG ? path + " grew past " + std::to_string(kMaxProfileBytes) +
                                   " bytes while it was read"
                             : "cannot read " + path + ": " + std::strerror(failure);
    return ProfileLoad::kFailed;
  }
  return ProfileLoad::kRead;
}

}  // namespace zentrova::platform
