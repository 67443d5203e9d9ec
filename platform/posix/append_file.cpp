// The trace file on POSIX systems. It is often named in a shared place such as
// /tmp and written by root or a service, so it is trusted the way the registry
// trusts its hives: never through a symbolic link, only a regular file, only one
// that belongs to the user (or root) and that nobody else may write. A line
// goes out whole or not at all, and a file-size limit makes a failed write,
// never the signal that would end the program in the middle of its sends.
#include "platform/append_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zentrova::platform {
namespace {

std::string OwnerName(uid_t uid) {
  const passwd* pw = getpwuid(uid);
  return pw ? std::string(pw->pw_name) : std::to_string(uid);
}

// Why the file just opened may not be appended to, or "" when it may.
std::string Distrust(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  if (st.st_uid != geteuid() && st.st_uid != 0)
    return "it belongs to " + OwnerName(st.st_uid) + ", not to you";
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return "users other than its owner may write it";
  return "";
}

// SIGXFSZ held back on this thread while the trace writes, so that reaching
// the file-size limit (ulimit -f, LimitFSIZE) fails the write with EFBIG
// instead of ending the process. Only the writing thread is touched: a host
// of the automation server keeps its own disposition of the signal. A signal
// the write itself raised is taken off the thread again before the mask is
// restored; one that was pending before is left for its owner.
class FileSizeSignalHeld {
 public:
  FileSizeSignalHeld() {
    sigemptyset(&signal_);
    sigaddset(&signal_, SIGXFSZ);
    held_ = pthread_sigmask(SIG_BLOCK, &signal_, &previous_) == 0;
    sigset_t pending;
    pendingBefore_ = sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1;
  }
  ~FileSizeSignalHeld() {
    if (!held_) return;
    sigset_t pending;
    if (raised_ && !pendingBefore_ && sigpending(&pending) == 0 &&
        sigismember(&pending, SIGXFSZ) == 1) {
      const timespec now{};
      sigtimedwait(&signal_, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  FileSizeSignalHeld(const FileSizeSignalHeld&) = delete;
  FileSizeSignalHeld& operator=(const FileSizeSignalHeld&) = delete;
  // The write failed with EFBIG: the kernel raised SIGXFSZ with it.
  void Raised() { raised_ = true; }

 private:
  sigset_t signal_, previous_;
  bool held_ = false, pendingBefore_ = false, raised_ = false;
};

// Writers of the file queue here, so that a line cut back after a short write
// takes nothing of another process's line with it.
class FileLock {
 public:
  explicit FileLock(int fd) : fd_(fd) {
    while (flock(fd_, LOCK_EX) != 0)
      if (errno != EINTR) {
        fd_ = -1;  // unlocked (a file system without locks): still written
        break;
      }
  }
  ~FileLock() {
    if (fd_ >= 0) flock(fd_, LOCK_UN);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

}  // namespace

AppendFile::~AppendFile() { Close(); }

bool AppendFile::Open(const std::string& path, std::string& error) {
  Close();
  // O_NONBLOCK: a FIFO put in the file's place must not hold the program up
  // until a reader comes; it is refused below as not a regular file.
  const int fd =
      ::open(path.c_str(),
             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) {
    error = errno == ELOOP ? "it is a symbolic link, which the trace does not follow"
                           : std::strerror(errno);
    return false;
  }
  struct stat st;
  error = fstat(fd, &st) != 0 ? std::string(std::strerror(errno)) : Distrust(st);
  if (!error.empty()) {
    ::close(fd);
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
  const int fd = static_cast<int>(handle_);
  FileSizeSignalHeld signalHeld;
  FileLock lock(fd);
  // One write per line keeps lines of processes sharing the file whole; a
  // short write is finished when it can be, and otherwise taken back, so that
  // no torn line is left for the next one to be glued onto.
  off_t start = -1;
  std::string_view rest = line;
  while (!rest.empty()) {
    const ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0 && errno == EFBIG) signalHeld.Raised();
      error = n < 0 ? std::strerror(errno) : "nothing could be written";
      break;
    }
    // O_APPEND wrote at the end: the line began n bytes before where it left us.
    if (start < 0) start = lseek(fd, 0, SEEK_CUR) - n;
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  if (rest.empty()) return true;
  if (start >= 0 && ftruncate(fd, start) != 0)
    error += std::string("; the part written could not be taken back: ") + std::strerror(errno);
  return false;
}

void AppendFile::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

}  // namespace zentrova::platform
