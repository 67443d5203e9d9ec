// The Linux registry's own rules: hive files in REGEDIT4 text under
// $ZENTROVA_REGISTRY, their owner and mode, their bounds and their writers.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/config_files.h"
#include "platform/posix/registry_directory.h"
#include "platform/registry.h"
#include "tests/platform/contract.h"
#include "tests/support/peers.h"

namespace fs = std::filesystem;
using namespace zentrova::platform;
using namespace std::string_literals;

// Every fsync of this program passes here first: what each call flushed (the
// file's path and, for a file, its bytes at that moment) shows whether a
// write reached the disk before it was made visible (one thread only: no lock).
namespace {
std::vector<std::pair<std::string, std::string>> g_synced;
}  // namespace

extern "C" int fsync(int fd) {
  char target[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t n = readlink(link.c_str(), target, sizeof target);
  // Read anew through the link (fd may be write-only); a directory reads as nothing.
  g_synced.emplace_back(n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "",
                        zentrova::testing::ReadFile(link));
  return static_cast<int>(syscall(SYS_fsync, fd));
}

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("ZENTROVA_REGISTRY", (dir_ / "hives").c_str(), 1); }
  void TearDown() override { unsetenv("ZENTROVA_REGISTRY"); }
  std::string HiveText(const char* name = "HKEY_CURRENT_USER.reg", const char* folder = "hives") {
    return zentrova::testing::ReadFile(dir_ / folder / name);
  }
  void WriteHive(const std::string& text, const char* name = "HKEY_CURRENT_USER.reg",
                 const char* folder = "hives") {
    fs::create_directories(dir_ / folder);
    zentrova::testing::WriteFile(dir_ / folder / name, text);
    // Private whatever the umask: the registry trusts nothing else.
    chmod((dir_ / folder).c_str(), 0700);
    chmod((dir_ / folder / name).c_str(), 0600);
  }
  static std::string Read(const std::string& key, const char* value) {
    return zentrova::testing::RegistryText(RegistryRoot::kCurrentUser, key, value);
  }
  zentrova::testing::TempDir temp_;
  fs::path dir_ = temp_.Path();
};

TEST_F(RegistryTest, MissingDirectoryIsAnEmptyHiveAndStaysUntouched) {
  RegistryKey key;
  EXPECT_EQ(key.Open(RegistryRoot::kCurrentUser, "Software\\Zentrova").code, kErrorFileNotFound);
  EXPECT_EQ(key.Open(RegistryRoot::kCurrentUser, "\\").code, kErrorInvalidParameter);  // no key
  std::vector<std::string> names{"stale"};  // a key not open lists nothing
  EXPECT_EQ((std::tuple{key.Subkeys(names), names.size()}), std::tuple(kErrorInvalidParameter, 0u));
  EXPECT_FALSE(fs::exists(dir_ / "hives"));
}

// Unset or empty, ZENTROVA_REGISTRY leaves the hives under $XDG_CONFIG_HOME when
// that is an absolute path, else under $HOME/.config when HOME is set and not empty,
// else under the account's home. The settings files take the same folder, or none.
TEST_F(RegistryTest, WithoutItsVariableTheRegistryIsInTheUsersConfiguration) {
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  const passwd* pw = getpwuid(getuid());
  const fs::path account = std::string(pw ? pw->pw_dir : "") + "/.config";
  const struct {
    const char *registry, *xdg, *home;
    fs::path config;
  } cases[] = {{nullptr, dir_.c_str(), "/h", dir_},
               {"", dir_.c_str(), "/h", dir_},
               {"", "relative", dir_.c_str(), dir_ / ".config"},
               {"", nullptr, dir_.c_str(), dir_ / ".config"},
               {"", nullptr, nullptr, ""},
               {"", "relative", "", ""}};
  for (const auto& c : cases) {
    c.registry ? setenv("ZENTROVA_REGISTRY", c.registry, 1) : unsetenv("ZENTROVA_REGISTRY");
    c.xdg ? setenv("XDG_CONFIG_HOME", c.xdg, 1) : unsetenv("XDG_CONFIG_HOME");
    c.home ? setenv("HOME", c.home, 1) : unsetenv("HOME");
    const fs::path config = c.config.empty() ? account : c.config;
    EXPECT_EQ(RegistryDirectory(), config / "zentrova" / "registry") << "row " << &c - cases;
    std::vector<std::string> places = ConfigFilePlaces("/p", "app", "a.ini"),
                             want = {"/p/a.ini", "/p/A.ini", "/etc/app/a.ini"};
    if (!c.config.empty()) want.insert(want.begin() + 2, (c.config / "app/a.ini").string());
    EXPECT_EQ(places, want) << "row " << &c - cases;
    // A name that has no lower-case first letter is looked for once beside the program.
    for (const char* name : {"Z", "{", "z"})
      EXPECT_EQ(ConfigFilePlaces("/p", "app", name).size(), want.size() - (*name != 'z')) << name;
  }
  setenv("HOME", home.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
}

TEST_F(RegistryTest, StringsRoundTripAndTheFileReadsAsRegedit4) {
  RegistryWriter w(RegistryRoot::kCurrentUser);
  w.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", "HTTP1", "127.0.0.1:8080");
  w.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", "Path", "C:\\Temp \"quoted\"");
  w.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", "", "default");
  w.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", "Lines", "one\rtwo");
  w.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", "Lf", "\n");
  std::string every;  // every byte but the line ends, the escape's own last
  for (int c = 1; c < 256; ++c)
    if (c != '\r' && c != '\n') every += static_cast<char>(c);
  w.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", every + "\\", every + "\\");
  ASSERT_EQ(w.Commit().code, kErrorSuccess);

  const char* key = "software\\ZENTROVA\\sms\\3.0\\settings";  // any case
  errno = EINTR;  // left by an earlier interrupted call: a read that succeeds is still taken
  EXPECT_EQ(Read(key, "Lines"), "one\rtwo");
  every += "\\";
  EXPECT_EQ(Read(key, every.c_str()), every);

  std::string text = HiveText();
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Zentrova\\SMS\\3.0\\Settings]\n"
                      "\"HTTP1\"=\"127.0.0.1:8080\"\n"
                      "\"Path\"=\"C:\\\\Temp \\\"quoted\\\"\"\n"
                      "@=\"default\"\n"
                      "\"Lines\"=hex(1):6f,6e,65,0d,74,77,6f,00\n"
                      "\"Lf\"=hex(1):0a,00\n"),
            std::string::npos)
      << text;
}

// Lines the parser does not understand stay where they stood when a writer
// rewrites the file; a string ending in a backslash does not run into the next line.
const char kKeptLines[] =
    "\"Broken\"=\"no closing quote\r\nREGEDIT4\r\n\"Gone\"=-\r\n\x01\xff binary \\\r\n"
    "[HKEY_CLASSES_ROOT\\Elsewhere]\r\n\"X\"=\"not this root\"\r\n[HKEY_CURRENT_USER]\r\n";

// A crash after Commit returns must find the new hive: its bytes are flushed
// before the rename makes them the hive, and the folder after it.
TEST_F(RegistryTest, ACommitIsOnDiskBeforeItIsVisibleAndTheRenameAfterIt) {
  g_synced.clear();
  RegistryWriter w(RegistryRoot::kCurrentUser);
  w.SetString("Software\\Zentrova", "HTTP1", "127.0.0.1:8080");
  ASSERT_EQ(w.Commit().code, kErrorSuccess);
  const std::string hive = (dir_ / "hives" / "HKEY_CURRENT_USER.reg").string();
  ASSERT_EQ(g_synced.size(), 2u);
  EXPECT_TRUE(g_synced[0].first.starts_with(hive + ".tmp.")) << g_synced[0].first;
  EXPECT_EQ(g_synced[0].second, HiveText());
  EXPECT_EQ(g_synced[1].first, (dir_ / "hives").string());
}

// A write that fails (a full disk; here a file-size limit) fails the commit
// and leaves the hive as it was.
TEST_F(RegistryTest, AFailedWriteFailsTheCommitAndLeavesTheHive) {
  RegistryWriter w(RegistryRoot::kCurrentUser);
  w.SetString("Software\\Zentrova", "HTTP1", "127.0.0.1:8080");
  ASSERT_EQ(w.Commit().code, kErrorSuccess);
  const std::string before = HiveText();
  auto commitOverTheLimit = [] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16, 16};
    RegistryWriter big(RegistryRoot::kCurrentUser);
    big.SetString("Software\\Zentrova", "HTTP2", std::string(64, 'x'));
    return setrlimit(RLIMIT_FSIZE, &limit) == 0 && big.Commit().code ? 0 : 1;
  };
  EXPECT_EXIT(std::_Exit(commitOverTheLimit()), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(HiveText(), before);
}

TEST_F(RegistryTest, HandEditedFileIsReadAndAWriteKeepsEveryLine) {
  WriteHive(
      "REGEDIT4\r\n\r\n"s
      "; written by an administrator\r\n"
      "[HKEY_CURRENT_USER\\Software\\Zentrova\\SMS\\3.0\\Settings]\r\n"
      "\"HTTP1\" \t=\t \"gw.example\"\r\n"
      "\"Count\"=dword:0102A3ff\r\n"
      "\"Blob\"=hex:01, \t0A,\\\r\n"
      "  99\r\n"
      "\"Wide\"=hex(ffffffff):07\r\n"  // the widest type there is
      "\"TooWide\"=hex(100000000):07\r\n"
      "\"TooLong\"=dword:100000000\r\n"
      "\"Odd\"=hex(7]:07\r\n\"Odder\"=hex[7):07\r\n"
      "\"D0\"=dword:\r\n\"H0\"=hex():07\r\n\"H1\"=hex\r\n"        // no digits, type, colon
      "\"G1\"=dword:g\r\n\"G2\"=hex:0`\r\n\"G3\"=hex(1g):07\r\n"  // past 'f', before 'a'
      "\"Lonely\"\r\n\"NoEq\":\"x\"\r\n\"After\"=\"x\"y\r\n"      // no name, or more after the data
      "\"Dir\"=\"C:\\\\\"\t\r\n\"Bare\"=hex(1):41,42\r\n\"E\"=hex(1):\r\n"  // no NUL, no byte
      "hex:01,\\\r\n"  // no name: no value, and the next line is not taken into it
      "\"Next\"=\"after the backslash\"\r\n" +
      kKeptLines +
      "[HKEY_CURRENT_USER\\Software\\Zentrova\\SMS\\3.0\\Settingsx\r\n"  // no "]": no key
      "\"Stray\"=\"still not this root\"\r\n");
  const char* key = "Software\\Zentrova\\SMS\\3.0\\Settings";

  RegistryKey k;
  ASSERT_EQ(k.Open(RegistryRoot::kCurrentUser, key).code, kErrorSuccess);
  for (const auto& [name, bytes] : {std::pair<const char*, std::string>{"Count", "\xff\xa3\2\1"},
                                    {"Blob", "\x01\x0a\x99"},
                                    {"Wide", "\x07"}}) {
    char buf[8];
    unsigned long size = sizeof buf;
    const bool read = k.QueryValue(name, buf, &size) == kErrorSuccess;
    EXPECT_EQ(read ? std::string(buf, size) : "<unread>", bytes) << name;
  }
  // Parents of a key written by hand exist too.
  std::vector<std::string> sub;
  ASSERT_EQ(k.Open(RegistryRoot::kCurrentUser, "Software\\Zentrova").code, kErrorSuccess);
  k.Subkeys(sub);
  EXPECT_EQ(sub, std::vector<std::string>{"SMS"});
  EXPECT_EQ(k.Open(RegistryRoot::kCurrentUser, "Elsewhere").code, kErrorFileNotFound);
  for (const char* name : {"Stray", "Lonely", "NoEq", "After", "D0", "H0", "G1", "G2", "G3", "H1",
                           "TooWide", "TooLong", "Odd", "Odder", "Gone"})
    EXPECT_EQ(Read(key, name), "<none>") << name;

  RegistryWriter w(RegistryRoot::kCurrentUser);
  w.SetString(key, "HTTP2", "gw2.example");
  ASSERT_EQ(w.Commit().code, kErrorSuccess);
  std::string text = HiveText();
  EXPECT_NE(text.find("\"Count\"=dword:0102A3ff\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Blob\"=hex:01, \t0A,99\n"), std::string::npos) << text;
  EXPECT_NE(text.find("; written by an administrator\r\n"), std::string::npos) << text;
  std::string kept = kKeptLines;  // with the new value last in its key
  kept.insert(kept.find("[HKEY_CLASSES_ROOT"), "\"HTTP2\"=\"gw2.example\"\n");
  EXPECT_NE(text.find(kept), std::string::npos) << text;
  EXPECT_EQ(std::tuple(Read(key, "Dir"), Read(key, "Next"), Read(key, "HTTP1"), Read(key, "HTTP2"),
                       Read(key, "Bare"), Read(key, "E")),
            std::tuple("C:\\", "after the backslash", "gw.example", "gw2.example", "AB", ""));

  // Names that would break the file's lines are refused; nothing is written.
  using std::string_view_literals::operator""sv;
  for (auto [path, name] : {std::pair{"Settings"sv, "na\n[HKEY_CURRENT_USER\\Injected]\n\"x"sv},
                            std::pair{"Bad\nKey"sv, ""sv}, std::pair{"Settings"sv, "na\0me"sv},
                            std::pair{"Bad\rKey"sv, ""sv}, std::pair{"Settings"sv, "na\rme"sv}}) {
    RegistryWriter bad(RegistryRoot::kCurrentUser);
    bad.SetString(path, name, "v");
    EXPECT_EQ(bad.Commit().code, kErrorInvalidParameter) << path;
  }
  EXPECT_EQ(HiveText(), text);
  // A key's later section goes with its one value (the key's first); a binary value cut off by
  // the file's end stays last, after a key added since, under its key's header again (an
  // implied parent gets none).
  const std::string kl = "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\n[HKEY_CURRENT_USER\\L]\n",
                    s = "\n[HKEY_CURRENT_USER\\A\\K\\S]\n", kh = "\n[HKEY_CURRENT_USER\\A\\K]\n";
  WriteHive(kl + "\n[HKEY_CURRENT_USER\\K]\n\"V\"=\"1\"\n[HKEY_CURRENT_USER\\P\\Q]\n" + s + kh +
            "\"B\"=hex:01,\\\n  02,\\");
  RegistryWriter drop(RegistryRoot::kCurrentUser);
  drop.DeleteValue("K", "V");
  drop.DeleteTree("P\\Q");  // its implied parent stays, as a key of its own
  drop.SetString("N", "X", "1");
  ASSERT_EQ(drop.Commit().code, kErrorSuccess);
  EXPECT_EQ(HiveText(), kl + "\n[HKEY_CURRENT_USER\\P]\n" + kh + s +
                            "\n[HKEY_CURRENT_USER\\N]\n\"X\"=\"1\"\n" + kh +
                            "\"B\"=hex:01,\\\n  02,\\\n");
  RegistryWriter gone(RegistryRoot::kCurrentUser);
  gone.DeleteTree("A\\K");  // the cut-off value goes with its key
  ASSERT_EQ(gone.Commit().code, kErrorSuccess);
  EXPECT_EQ(HiveText().find("02,"), std::string::npos) << HiveText();
}

// Eight writers, half of them through a second folder whose hive is a link
// to the same file: they queue on one lock, so no write is lost.
TEST_F(RegistryTest, ConcurrentWritersThroughLinkedFoldersLoseNothing) {
  constexpr int kWriters = 8, kWrites = 15;
  const fs::path other = dir_ / "other";
  WriteHive("REGEDIT4\n", "user.reg", "kept");
  for (const fs::path& d : {other, dir_ / "hives"}) {
    fs::create_directories(d);
    chmod(d.c_str(), 0700);
    fs::create_symlink(dir_ / "kept" / "user.reg", d / "HKEY_CURRENT_USER.reg");
  }
  pid_t children[kWriters];
  for (int c = 0; c < kWriters; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      if (c % 2) setenv("ZENTROVA_REGISTRY", other.c_str(), 1);
      for (int i = 0; i < kWrites; ++i) {
        RegistryWriter w(RegistryRoot::kCurrentUser);
        w.SetString("Writer" + std::to_string(c), "V" + std::to_string(i), std::to_string(i));
        if (w.Commit().code != kErrorSuccess) _exit(1);
      }
      _exit(0);
    }
  }
  for (pid_t pid : children) {
    int status = 0;
    EXPECT_TRUE(waitpid(pid, &status, 0) == pid && WIFEXITED(status) && !WEXITSTATUS(status));
  }
  std::vector<RegistryValue> values;  // each listing replaces the one before
  for (int c = 0; c < kWriters; ++c) {
    RegistryKey k;
    ASSERT_EQ(k.Open(RegistryRoot::kCurrentUser, "Writer" + std::to_string(c)).code, kErrorSuccess);
    k.Values(values);
    EXPECT_EQ(values.size(), static_cast<std::size_t>(kWrites)) << "writer " << c;
  }
}

// The directory and the hive must be the user's (or root's) and writable by
// nobody else, or every reader and writer stops and says how to fix it.
TEST_F(RegistryTest, ADirectoryOrHiveOthersMayChangeIsRefused) {
  RegistryWriter ours(RegistryRoot::kClassesRoot);
  ours.SetString("CLSID\\{1}\\InprocServer32", "", "/lib/ours.so");
  ASSERT_EQ(ours.Commit().code, kErrorSuccess);
  const fs::path dir = dir_ / "hives", hive = dir / "HKEY_CLASSES_ROOT.reg";
  const std::string before = HiveText("HKEY_CLASSES_ROOT.reg");
  // Path, mode, owned by another user (only root can arrange that), the fix named.
  const std::tuple<fs::path, mode_t, bool, const char*> cases[] = {
      {dir, 0720, false, "chmod go-w "},
      {hive, 0646, false, "chmod go-w "},
      {dir, 0700, true, ""},
      {hive, 0600, true, ""}};
  bool needRoot = false;
  for (const auto& [path, mode, foreign, fix] : cases) {
    if (foreign && geteuid() != 0) {
      needRoot = true;
      continue;
    }
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    ASSERT_EQ(foreign ? chown(path.c_str(), 65534, 65534) : 0, 0);
    RegistryKey key;
    RegistryStatus refused = key.Open(RegistryRoot::kClassesRoot, "CLSID\\{1}\\InprocServer32");
    EXPECT_EQ(refused.code, kErrorAccessDenied) << path;
    EXPECT_NE(refused.message.find(fix + path.string()), std::string::npos) << refused.message;
    RegistryWriter w(RegistryRoot::kClassesRoot);
    w.SetString("CLSID\\{1}\\InprocServer32", "", "/tmp/theirs.so");
    EXPECT_EQ(w.Commit().code, kErrorAccessDenied) << path;
    ASSERT_EQ(foreign ? chown(path.c_str(), geteuid(), getegid()) : 0, 0);
    chmod(dir.c_str(), 0700);
    chmod(hive.c_str(), 0600);
    EXPECT_EQ(HiveText("HKEY_CLASSES_ROOT.reg"), before);
  }
  RegistryKey key;
  EXPECT_EQ(key.Open(RegistryRoot::kClassesRoot, "CLSID").code, kErrorSuccess);
  if (needRoot) GTEST_SKIP() << "the rows with another user's file or directory need root";
  // Another account trusts a directory of its own and a hive of root's.
  ASSERT_EQ(chmod(dir_.c_str(), 0711) | chown(dir.c_str(), 65534, 0) | chmod(hive.c_str(), 0644),
            0);
  EXPECT_EXIT(std::_Exit(seteuid(65534) || key.Open(RegistryRoot::kClassesRoot, "CLSID").code),
              ::testing::ExitedWithCode(0), "");
}

// Windows' own bounds: 255 characters a key name, 512 levels. A hive beyond
// them is refused with its line, in time linear in its size.
TEST_F(RegistryTest, KeyNamesAndDepthAreBounded) {
  auto nested = [](int levels, const std::string& name) {
    std::string path;
    for (int i = 0; i < levels; ++i) path += "\\" + name;
    return path;
  };
  for (const auto& [path, want] : {std::pair<std::string, long>{nested(512, "a"), kErrorSuccess},
                                   {nested(513, "a"), kErrorBadDatabase},
                                   {nested(100000, "a"), kErrorBadDatabase},
                                   {nested(1, std::string(255, 'n')), kErrorSuccess},
                                   {nested(1, std::string(256, 'n')), kErrorBadDatabase}}) {
    WriteHive("REGEDIT4\n\n[HKEY_CURRENT_USER" + path + "]\n");
    RegistryKey key;
    RegistryStatus opened = key.Open(RegistryRoot::kCurrentUser, path.substr(1, 300));
    EXPECT_EQ(opened.code, want);
    EXPECT_TRUE(want == kErrorSuccess || opened.message.find("line 3: ") != std::string::npos)
        << opened.message;
    RegistryWriter w(RegistryRoot::kCurrentUser);
    w.CreateKey("Other");
    EXPECT_EQ(w.Commit().code, want);
    RegistryWriter create(RegistryRoot::kCurrentUser);
    create.CreateKey(path);
    EXPECT_EQ(create.Commit().code, want == kErrorSuccess ? kErrorSuccess : kErrorInvalidParameter);
  }
  // Value names of 16,383 characters at most, read or written; hives of 64 MiB.
  for (const bool fits : {true, false}) {
    const std::string name(fits ? 16383 : 16384, 'v');
    WriteHive("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"" + name + "\"=\"x\"\n");
    RegistryKey key;
    EXPECT_EQ(key.Open(RegistryRoot::kCurrentUser, "K").code,
              fits ? kErrorSuccess : kErrorBadDatabase);
    WriteHive("REGEDIT4\n;" + std::string((64 << 20) - 11 + !fits, 'c') + "\n");
    EXPECT_EQ(key.Open(RegistryRoot::kCurrentUser, "K").code,
              fits ? kErrorFileNotFound : kErrorBadDatabase);
    WriteHive("REGEDIT4\n");
    RegistryWriter w(RegistryRoot::kCurrentUser);
    w.SetString("K", name, "x");
    EXPECT_EQ(w.Commit().code, fits ? kErrorSuccess : kErrorInvalidParameter) << name.size();
  }
  // "n56652" and "n69142" hash alike under K (node 1): only the key of that name is found, and
  // no key below a name too long.
  WriteHive("REGEDIT4\n\n[HKEY_CURRENT_USER\\K\\n56652]\n");
  RegistryKey key;
  EXPECT_EQ(key.Open(RegistryRoot::kCurrentUser, "K\\n56652").code, kErrorSuccess);
  for (const std::string& other : {"K\\n69142"s, "K\\" + std::string(256, 'n')})
    EXPECT_EQ(key.Open(RegistryRoot::kCurrentUser, other).code, kErrorFileNotFound);
}

// One write reads, changes and writes the whole hive: in time linear in its size
// (it took a minute here when every key was found by a scan; now well under a second,
// and the bound leaves room for sanitizers on a busy machine).
TEST_F(RegistryTest, AHundredThousandKeysAreReadAndWrittenQuickly) {
  std::string text = "REGEDIT4\n";
  for (int i = 0; i < 100000; ++i)
    text += "\n[HKEY_CURRENT_USER\\Software\\K" + std::to_string(i) + "]\n\"V\"=\"" +
            std::to_string(i) + "\"\n";
  WriteHive(text);
  RegistryWriter w(RegistryRoot::kCurrentUser);
  w.SetString("Software\\New", "V", "new");
  for (int i = 0; i < 1000; ++i) {  // each key deleted must leave the name index at once
    w.DeleteTree("Software\\K" + std::to_string(i));
    w.SetString("Software\\K" + std::to_string(i), "W", "again");
  }
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(w.Commit().code, kErrorSuccess);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(Read("software\\k99999", "v"), "99999");
  text = HiveText();
  std::size_t made = 0;
  for (std::size_t at = 0; (at = text.find("\"W\"=\"again\"", at)) != std::string::npos; ++at) ++made;
  EXPECT_EQ(made, 1000u);
  EXPECT_EQ(Read("Software\\New", "V"), "new");
}

// A FIFO or a device is refused at once; a symbolic link keeps pointing at the hive it names;
// a temporary file whose writer is gone is removed by the next writer.
TEST_F(RegistryTest, OnlyRegularFilesAreReadAndLinksAndLeftoversAreHandled) {
  const fs::path dir = dir_ / "hives", hive = dir / "HKEY_CURRENT_USER.reg";
  fs::create_directories(dir);
  chmod(dir.c_str(), 0700);
  RegistryWriter w(RegistryRoot::kCurrentUser);
  w.SetString("A", "V", "1");
  // Devices only where they can be made (as root): /dev/null's numbers, an unbound loop's.
  for (auto [mode, dev, kind] : {std::tuple{S_IFIFO, makedev(0, 0), "a FIFO"},
                                 {S_IFCHR, makedev(1, 3), "a device"},
                                 {S_IFBLK, makedev(7, 0), "a device"}}) {
    if (mknod(hive.c_str(), mode | 0600, dev) != 0 && mode != S_IFIFO) continue;
    RegistryKey key;
    RegistryStatus opened = key.Open(RegistryRoot::kCurrentUser, "A");
    EXPECT_EQ(opened.code, kErrorBadDatabase);
    EXPECT_NE(opened.message.find(kind), std::string::npos) << opened.message;
    EXPECT_EQ(w.Commit().code, kErrorBadDatabase);
    fs::remove(hive);
  }

  WriteHive("REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n", "user.reg", "kept");
  fs::create_symlink(dir_ / "kept" / "user.reg", hive);
  // The first two go (nine digits at most, every digit, no such process); the others stay.
  const std::string t = (dir_ / "kept/user.reg.tmp.").string(),
                    temporaries[] = {
                        t + "987654321",  t + "012345678", t + std::to_string(getppid()),
                        t + "1234567890", t + "9999999_",  t + "9999999-",
                        t + "9999999.",   t + "9999999 ",  t + "9999999\\",
                        t + "9999999\""};
  for (const std::string& file : temporaries) zentrova::testing::WriteFile(file, "");
  ASSERT_EQ(w.Commit().code, kErrorSuccess);
  EXPECT_TRUE(fs::is_symlink(hive));
  EXPECT_EQ(Read("A", "V"), "1");
  for (const std::string& file : temporaries)
    EXPECT_EQ(fs::exists(file), &file > temporaries + 1) << file;
  if (geteuid() != 0) GTEST_SKIP() << "the leftover of another user's live process needs root";
  // To another user, pid 1 is a live process it may not signal: its leftover stays.
  const fs::path theirs = dir_ / "theirs", leftover = theirs / "HKEY_CURRENT_USER.reg.tmp.1";
  fs::create_directory(theirs);
  zentrova::testing::WriteFile(leftover, "");
  ASSERT_EQ(chmod(dir_.c_str(), 0711) | chown(theirs.c_str(), 65534, 65534), 0);
  setenv("ZENTROVA_REGISTRY", theirs.c_str(), 1);
  EXPECT_EXIT(
      std::_Exit(setgid(65534) || setuid(65534) || w.Commit().code || !fs::exists(leftover)),
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
