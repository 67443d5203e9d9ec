// File-backed registry: one REGEDIT4 text file per root, so an administrator can
// read and edit it with any text editor (the text itself: platform/posix/hive.cpp).
//
// Readers parse the file as it stands; a writer takes an exclusive flock on a lock
// file beside the hive (beside the file it points to, when the hive is a symbolic
// link), re-reads the hive under it, applies its batch and renames
// a complete new file into place. Readers therefore see either the old or the new
// file, never half of one, and two writers never lose each other's keys.
//
// What a hive says decides which library activation loads, so the directory and
// the hive files are trusted the way ssh trusts ~/.ssh: they must belong to the
// current user or root, and neither group nor others may write them.
#include "platform/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/portable/registry_changes.h"
#include "platform/posix/hive.h"
#include "platform/posix/registry_directory.h"
#include "platform/posix/support.h"

namespace zentrova::platform {
namespace {

using posix::FileDescriptor;
using posix::SameName;

// Large enough for any hive a person or an installer writes, small enough that
// reading one never exhausts memory.
constexpr off_t kMaxHiveBytes = 64 << 20;

RegistryStatus Fail(long code, std::string text) { return {code, std::move(text)}; }

std::string SystemError(const std::string& what, const std::string& path) {
  return "cannot " + what + " " + path + ": " + std::strerror(errno);
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// 0 when st (of path) may be trusted; else kErrorAccessDenied with the reason.
RegistryStatus Trust(const std::string& path, const struct stat& st) {
  if (st.st_uid != geteuid() && st.st_uid != 0) {
    auto name = [](uid_t uid) {
      const passwd* pw = getpwuid(uid);
      return pw ? std::string(pw->pw_name) : std::to_string(uid);
    };
    return Fail(kErrorAccessDenied, path + " belongs to " + name(st.st_uid) +
                                        ", not to you: the registry trusts only what is yours or "
                                        "root's. Use a directory of your own (ZENTROVA_REGISTRY), "
                                        "or have it handed over: chown " +
                                        name(geteuid()) + " " + path);
  }
  if (st.st_mode & (S_IWGRP | S_IWOTH))
    return Fail(kErrorAccessDenied, path +
                                        " may be changed by other users, so the registry does "
                                        "not trust it. Fix: chmod go-w " +
                                        path);
  return {};
}

RegistryStatus TrustDirectory(const std::string& dir) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) return Fail(kErrorAccessDenied, SystemError("examine", dir));
  if (!S_ISDIR(st.st_mode)) return Fail(kErrorBadDatabase, dir + " is not a directory");
  return Trust(dir, st);
}

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

struct HiveFile {
  std::string path;    // where the hive is named: DIR/ROOT.reg
  std::string target;  // the file to replace: path, or where its symbolic link points
};

// Reads and parses the root's hive; a missing directory or file is an empty hive.
RegistryStatus LoadHive(RegistryRoot root, hive::Hive& hive, HiveFile& file) {
  const std::string dir = RegistryDirectory();
  file.path = file.target = dir + "/" + RegistryRootName(root) + ".reg";
  hive = hive::Hive(root);
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return Fail(kErrorAccessDenied, SystemError("examine", dir));
  }
  if (RegistryStatus rc = TrustDirectory(dir); !rc.ok()) return rc;
  if (lstat(file.path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return Fail(kErrorAccessDenied, SystemError("examine", file.path));
  }
  if (S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (!realpath(file.path.c_str(), resolved))
      return Fail(kErrorBadDatabase, file.path + " is a symbolic link to nothing (" +
                                         std::strerror(errno) + "); remove it or let it point " +
                                         "to a hive");
    file.target = resolved;
    if (RegistryStatus rc = TrustDirectory(DirectoryOf(file.target)); !rc.ok()) return rc;
  }
  // O_NONBLOCK: opening a FIFO must not wait for a writer that never comes.
  FileDescriptor fd(open(file.target.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) return Fail(kErrorAccessDenied, SystemError("open", file.target));
  if (fstat(fd.get(), &st) != 0)
    return Fail(kErrorAccessDenied, SystemError("examine", file.target));
  if (!S_ISREG(st.st_mode))
    return Fail(kErrorBadDatabase, file.target + " is " + KindOf(st.st_mode) +
                                       "; a hive must be a regular file. Move it away.");
  if (RegistryStatus rc = Trust(file.target, st); !rc.ok()) return rc;
  if (st.st_size > kMaxHiveBytes)
    return Fail(kErrorBadDatabase, file.target + " is " + std::to_string(st.st_size) +
                                       " bytes long; a hive may hold at most " +
                                       std::to_string(kMaxHiveBytes) + " bytes");
  std::string text(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = read(fd.get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(kErrorBadDatabase, SystemError("read", file.target));
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  text.resize(done);
  std::string problem;
  if (!hive.Parse(text, problem))
    return Fail(kErrorBadDatabase, file.target + " " + problem + "; edit the file to fix it");
  return {};
}

// mkdir -p, private to the user: the hives may name internal servers.
bool MakeDirectories(const std::string& dir) {
  std::string partial;
  std::size_t i = 0;
  while (i <= dir.size()) {
    std::size_t j = dir.find('/', i);
    if (j == std::string::npos) j = dir.size();
    partial = dir.substr(0, j);
    if (!partial.empty() && mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    i = j + 1;
  }
  struct stat st;
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A writer killed between writing its temporary file and renaming it leaves the
// file behind; the next writer, holding the lock, removes those whose writer is gone.
void RemoveStaleTemporaries(const std::string& target) {
  const std::string dir = DirectoryOf(target);
  const std::string prefix = target.substr(target.rfind('/') + 1) + ".tmp.";
  std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(dir.c_str()), closedir);
  if (!listing) return;
  while (const dirent* entry = readdir(listing.get())) {
    std::string_view name = entry->d_name;
    if (!name.starts_with(prefix) || name.size() == prefix.size() ||
        name.size() > prefix.size() + 9)
      continue;
    std::string_view digits = name.substr(prefix.size());
    if (digits.find_first_not_of("0123456789") != std::string_view::npos) continue;
    pid_t pid = static_cast<pid_t>(std::atol(std::string(digits).c_str()));
    if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH)
      unlinkat(dirfd(listing.get()), entry->d_name, 0);
  }
}

// Writes text to a new file beside target and renames it over target.
RegistryStatus ReplaceFile(const std::string& target, const std::string& text) {
  RemoveStaleTemporaries(target);
  const std::string temp = target + ".tmp." + std::to_string(getpid());
  {
    FileDescriptor out(
        open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.get() < 0) return Fail(kErrorAccessDenied, SystemError("create", temp));
    if (!WriteAll(out.get(), text) || fsync(out.get()) != 0) {
      RegistryStatus rc = Fail(kErrorAccessDenied, SystemError("write", temp));
      unlink(temp.c_str());
      return rc;
    }
  }
  if (rename(temp.c_str(), target.c_str()) != 0) {
    RegistryStatus rc = Fail(kErrorAccessDenied, SystemError("replace", target));
    unlink(temp.c_str());
    return rc;
  }
  FileDescriptor dir(open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) fsync(dir.get());  // the rename itself survives a crash
  return {};
}

}  // namespace

std::string RegistryDirectory() {
  if (const char* dir = std::getenv("ZENTROVA_REGISTRY"); dir && *dir) return dir;
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      if (const passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
    }
    base = std::string(home ? home : "") + "/.config";
  }
  return base + "/zentrova/registry";
}

// ---- reading ----------------------------------------------------------------

struct RegistryKey::Impl {  // a snapshot taken at Open
  std::string path;
  std::vector<hive::Value> values;
  std::vector<std::string> subkeys;
};

RegistryStatus RegistryKey::Open(RegistryRoot root, std::string_view path) {
  Close();
  hive::Hive hive(root);
  if (path.find_first_not_of('\\') == std::string_view::npos) return {kErrorInvalidParameter, {}};
  HiveFile file;
  if (RegistryStatus rc = LoadHive(root, hive, file); !rc.ok()) return rc;
  std::uint32_t id = hive.Find(path);
  if (id == hive::kNone) return {kErrorFileNotFound, {}};
  auto impl = std::make_unique<Impl>();
  impl->path = hive.PathOf(id);
  const hive::Node& node = hive.nodes()[id];
  for (const hive::Value& v : node.values)
    if (v.live) impl->values.push_back(v);
  for (std::uint32_t child : node.children) impl->subkeys.push_back(hive.nodes()[child].name);
  impl_ = impl.release();
  return {};
}

void RegistryKey::Close() { delete std::exchange(impl_, nullptr); }

std::string RegistryKey::Path() const { return impl_ ? impl_->path : std::string(); }

long RegistryKey::QueryValue(std::string_view name, void* buffer, unsigned long* size) const {
  if (!impl_ || !size) return kErrorInvalidParameter;
  for (const auto& v : impl_->values) {
    if (SameName(v.name, name)) return CopyValue(v.data, v.isString, buffer, size);
  }
  return kErrorFileNotFound;
}

long RegistryKey::Values(std::vector<RegistryValue>& out) const {
  out.clear();
  if (!impl_) return kErrorInvalidParameter;
  for (const auto& v : impl_->values) out.push_back(RegistryValue{v.name, v.data});
  return kErrorSuccess;
}

long RegistryKey::Subkeys(std::vector<std::string>& out) const {
  out.clear();
  if (!impl_) return kErrorInvalidParameter;
  out = impl_->subkeys;
  return kErrorSuccess;
}

// ---- writing ----------------------------------------------------------------

namespace {
using Change = RegistryChange;

// Names that would break the file's lines are refused before anything is touched.
RegistryStatus CheckNames(RegistryRoot root, const std::vector<Change>& changes) {
  hive::Hive scratch(root);
  for (const auto& c : changes) {
    std::string problem;
    if (scratch.Create(c.path, problem) == hive::kNone)
      return Fail(kErrorInvalidParameter, "cannot write the key \"" + c.path + "\": " + problem);
    if (c.name.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
      return Fail(kErrorInvalidParameter,
                  "a value name holds a line break or a NUL; the registry cannot keep it");
    if (c.name.size() > hive::kMaxValueNameLength)
      return Fail(kErrorInvalidParameter, "a value name is " + std::to_string(c.name.size()) +
                                              " characters long; at most " +
                                              std::to_string(hive::kMaxValueNameLength) +
                                              " are allowed");
  }
  return {};
}

// The lock file beside the hives, taken exclusively: writers queue here.
RegistryStatus TakeLock(const std::string& dir, const FileDescriptor& lock) {
  if (lock.get() < 0) return Fail(kErrorAccessDenied, SystemError("create", dir + "/.lock"));
  while (flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return Fail(kErrorAccessDenied, SystemError("lock", dir + "/.lock"));
  }
  return {};
}

// Writers of one hive file queue on the lock file beside it: for a hive that
// is a symbolic link, beside the file it points to, so that registry folders
// whose hives link to one file share one lock and lose none of its writes.
std::string LockDirectory(const std::string& dir, RegistryRoot root) {
  const std::string hive = dir + "/" + RegistryRootName(root) + ".reg";
  struct stat st;
  char resolved[PATH_MAX];
  if (lstat(hive.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && realpath(hive.c_str(), resolved))
    return DirectoryOf(resolved);
  return dir;
}

// Deleting what does not exist fails the whole batch, before anything is written.
RegistryStatus ApplyChanges(const std::vector<Change>& changes, hive::Hive& hive) {
  for (const auto& c : changes) {
    std::string problem;
    switch (c.kind) {
      case Change::kCreate:
        hive.Create(c.path, problem);
        break;
      case Change::kSet:
        hive.SetString(hive.Create(c.path, problem), c.name, c.value);
        break;
      case Change::kDeleteValue: {
        std::uint32_t key = hive.Find(c.path);
        if (key == hive::kNone || !hive.DeleteValue(key, c.name)) return {kErrorFileNotFound, {}};
        break;
      }
      case Change::kDeleteTree: {
        std::uint32_t key = hive.Find(c.path);
        if (key == hive::kNone) return {kErrorFileNotFound, {}};
        hive.DeleteTree(key);
        break;
      }
    }
  }
  return {};
}
}  // namespace

RegistryStatus RegistryWriter::Commit() {
  if (RegistryStatus rc = CheckNames(impl_->root, impl_->changes); !rc.ok()) return rc;
  const std::string dir = RegistryDirectory();
  if (!MakeDirectories(dir)) return Fail(kErrorAccessDenied, SystemError("create", dir));
  if (RegistryStatus rc = TrustDirectory(dir); !rc.ok()) return rc;
  // A link repointed while this writer queued sends it to queue again, where
  // the link points now; one repointed again and again is given up on.
  for (int tries = 0; tries < 8; ++tries) {
    const std::string lockDir = LockDirectory(dir, impl_->root);
    if (RegistryStatus rc = TrustDirectory(lockDir); !rc.ok()) return rc;
    FileDescriptor lock(
        open((lockDir + "/.lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (RegistryStatus rc = TakeLock(lockDir, lock); !rc.ok()) return rc;
    if (LockDirectory(dir, impl_->root) != lockDir) continue;
    // Under the lock: what other writers committed meanwhile is in the file now.
    hive::Hive hive(impl_->root);
    HiveFile file;
    if (RegistryStatus rc = LoadHive(impl_->root, hive, file); !rc.ok()) return rc;
    if (RegistryStatus rc = ApplyChanges(impl_->changes, hive); !rc.ok()) return rc;
    if (RegistryStatus rc = ReplaceFile(file.target, hive.Serialize()); !rc.ok()) return rc;
    impl_->changes.clear();
    return {};
  }
  return Fail(kErrorAccessDenied, dir + "/" + RegistryRootName(impl_->root) +
                                      ".reg is a symbolic link that keeps being repointed");
}

}  // namespace zentrova::platform
