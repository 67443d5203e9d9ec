// The trace file's own rules: which files it appends to, and that a line is
// written whole or not at all.
#include "platform/append_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "platform/profile.h"
#include "platform/trace.h"
#include "tests/support/peers.h"

namespace fs = std::filesystem;
using zentrova::platform::AppendFile;
using zentrova::testing::ReadFile;
using zentrova::testing::WriteFile;

namespace {

// A world-writable sticky directory like /tmp, where another user may have
// put a link or a file of their own under the name the trace is given.
TEST(AppendFile, OpensOnlyARegularFileOfTheUsersOwnThatNobodyElseMayWrite) {
  zentrova::testing::TempDir temp;
  const fs::path tmp = fs::path(temp.Path()) / "tmp", victim = fs::path(temp.Path()) / "victim";
  fs::create_directory(tmp);
  ASSERT_EQ(chmod(tmp.c_str(), 01777), 0);
  WriteFile(victim, "the victim's\n");
  fs::create_symlink(victim, tmp / "link");
  fs::create_symlink(tmp / "not-yet", tmp / "dangling");
  ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0600), 0);
  for (const auto& [name, mode] :
       {std::pair{"group", 0620}, {"other", 0602}, {"theirs", 0600}, {"mine", 0600}}) {
    WriteFile(tmp / name, "");
    chmod((tmp / name).c_str(), mode);
  }
  const bool root = geteuid() == 0;
  ASSERT_EQ(root ? chown((tmp / "theirs").c_str(), 65534, 65534) : 0, 0);

  // A name, and how its refusal begins ("" when the file is appended to).
  const std::pair<const char*, std::string> rows[] = {
      {"link", "it is a symbolic link, which the trace does not follow"},
      {"dangling", "it is a symbolic link, which the trace does not follow"},
      {"group", "users other than its owner may write it"},
      {"other", "users other than its owner may write it"},
      {"theirs", "it belongs to "},
      {"mine", ""},
      {"new", ""},
      {"fifo", "No such device or address"},  // never waits for a reader to come
  };
  const int lowest = dup(2);  // free again after each refusal and each file closed
  close(lowest);
  for (const auto& [name, refusal] : rows) {
    if (std::string_view(name) == "theirs" && !root) continue;  // only root can chown
    AppendFile file;
    std::string error;
    EXPECT_EQ(file.Open(tmp / name, error) ? "" : error.substr(0, refusal.size()), refusal) << name;
    EXPECT_EQ(file.Append("a line\n", error) ? "" : error,
              refusal.empty() ? "" : "the file is not open");
  }
  EXPECT_EQ(dup(2), lowest);
  EXPECT_EQ(ReadFile(victim), "the victim's\n");
  EXPECT_FALSE(fs::exists(tmp / "not-yet"));
  EXPECT_EQ(ReadFile(tmp / "new"), "a line\n");
  EXPECT_EQ(fs::status(tmp / "new").permissions(), fs::perms::owner_read | fs::perms::owner_write);
  if (!root) GTEST_SKIP() << "the row of a file of another user's needs root (chown)";
  // As that user (in root's group still): its own file is taken, root's is judged by its mode.
  ASSERT_EQ(chmod(temp.Path().c_str(), 0711), 0);
  AppendFile file;
  std::string mine, roots;
  EXPECT_EXIT(std::_Exit(seteuid(65534) || !file.Open(tmp / "theirs", mine) ||
                         file.Open(tmp / "group", roots) || !roots.starts_with("users other")),
              ::testing::ExitedWithCode(0), "");
}

// A disk that fills in the middle of a line: the part written is taken back,
// so the next line, perhaps another process's, starts on a line of its own.
TEST(AppendFile, ALineThatDoesNotFitIsTakenBackWhole) {
  zentrova::testing::TempDir temp;
  const fs::path disk = fs::path(temp.Path()) / "disk";
  fs::create_directory(disk);
  // A small file system of this process's own, in a mount namespace of its own.
  if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "needs root and a mount namespace of its own (unshare, mount tmpfs)";
  struct Unmount {
    const fs::path& at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{disk};

  // 4000 bytes leave part of a page free; the filler takes every other page.
  const std::string before(3999, 'x');
  WriteFile(disk / "trace", before + "\n");
  chmod((disk / "trace").c_str(), 0600);
  const int fd = open((disk / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  const std::string block(4096, 'f');
  while (write(fd, block.data(), block.size()) > 0) continue;
  close(fd);
  const std::string line = std::string(300, 'l') + "\n";
  AppendFile file;
  std::string error;
  ASSERT_TRUE(file.Open(disk / "trace", error)) << error;
  EXPECT_TRUE(!file.Append(line, error) && error == "No space left on device") << error;
  EXPECT_EQ(fs::file_size(disk / "trace"), before.size() + 1);
  fs::remove(disk / "filler");
  EXPECT_TRUE(file.Append(line, error)) << error;
  EXPECT_TRUE(ReadFile(disk / "trace") == before + "\n" + line)
      << fs::file_size(disk / "trace") << " bytes";
}

// At the file-size limit the write fails instead of ending the process (and the
// trace lets its file go), and the signal it raised goes with it; a SIGXFSZ that
// was pending before, which is its owner's, stays pending.
TEST(AppendFile, TheFileSizeLimitFailsTheWriteAndLeavesOthersSignals) {
  zentrova::testing::TempDir temp;
  const fs::path path = fs::path(temp.Path()) / "trace";
  auto overTheLimit = [&path](bool pendingBefore) {
    const rlimit limit{1024, 1024};
    sigset_t xfsz, pending;
    sigemptyset(&xfsz);
    sigaddset(&xfsz, SIGXFSZ);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0 ||
        (pendingBefore && (sigprocmask(SIG_BLOCK, &xfsz, nullptr) != 0 || raise(SIGXFSZ) != 0)))
      return 2;
    zentrova::platform::Trace trace(path, nullptr);  // which lets its file go once it fails
    const int lowest = dup(2);
    close(lowest);
    zentrova::platform::TraceLine("one line too many");
    if (zentrova::platform::Tracing() || dup(2) != lowest) return 4;
    sigpending(&pending);
    return sigismember(&pending, SIGXFSZ) == (pendingBefore ? 1 : 0) ? 0 : 5;
  };
  for (const bool pendingBefore : {false, true}) {
    WriteFile(path, std::string(1024, 'x'));
    chmod(path.c_str(), 0600);
    EXPECT_EXIT(std::_Exit(overTheLimit(pendingBefore)), ::testing::ExitedWithCode(0), "")
        << "pending before: " << pendingBefore;
  }
}

// The largest settings file is read, one under a file is missing, a failed read is named.
TEST(Profile, TheLargestFileIsReadAndAFailedReadIsNamed) {
  using namespace zentrova::platform;
  zentrova::testing::TempDir temp;
  WriteFile(temp.File("pagora.ini"), std::string(1 << 20, ';'));
  ProfileFile file;
  std::string error;
  EXPECT_EQ(LoadProfileFile(temp.File("pagora.ini"), file, error), ProfileLoad::kRead);
  EXPECT_EQ(LoadProfileFile(temp.File("pagora.ini/x"), file, error), ProfileLoad::kMissing);
  EXPECT_EQ(LoadProfileFile("/proc/self/mem", file, error), ProfileLoad::kFailed);
  EXPECT_EQ(error, "cannot read /proc/self/mem: Input/output error");  // a regular file at offset 0
}

}  // namespace
