#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/peers.h"

namespace fs = std::filesystem;
using namespace zentrova::platform;

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("ZENTROVA_REGISTRY", (dir_ / "hives").c_str(), 1); }
  void TearDown() override { unsetenv("ZENTROVA_REGISTRY"); }
  std::string HiveText(const char* name = "HKEY_CURRENT_USER.reg") {
    return zentrova::testing::ReadFile(dir_ / "hives" / name);
  }
  void WriteHive(const std::string& text, const char* name = "HKEY_CURRENT_USER.reg") {
    fs::create_directories(dir_ / "hives");
    zentrova::testing::WriteFile(dir_ / "hives" / name, text);
  }
  static std::string Read(RegistryRoot root, const char* key, const char* value,
                          long* status = nullptr) {
    RegistryKey k;
    long rc = k.Open(root, key);
    if (rc == kErrorSuccess) {
      char buf[512];
      unsigned long size = sizeof buf;
      rc = k.QueryValue(value, buf, &size);
      if (status) *status = rc;
      return rc == kErrorSuccess ? std::string(buf, size ? size - 1 : 0) : std::string("<none>");
    }
    if (status) *status = rc;
    return "<no key>";
  }
  zentrova::testing::TempDir temp_;
  fs::path dir_ = temp_.Path();
};

TEST_F(RegistryTest, MissingDirectoryIsAnEmptyHiveAndStaysUntouched) {
  RegistryKey key;
  EXPECT_EQ(key.Open(RegistryRoot::kCurrentUser, "Software\\Zentrova"), kErrorFileNotFound);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_FALSE(fs::exists(dir_ / "hives"));
}

TEST_F(RegistryTest, StringsRoundTripAndTheFileReadsAsRegedit4) {
  RegistryWriter w(RegistryRoot::kCurrentUser);
  w.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", "HTTP1", "127.0.0.1:8080");
  w.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", "Path", "C:\\Temp \"quoted\"");
  w.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", "", "default");
  w.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", "Lines", "one\r\ntwo");
  ASSERT_EQ(w.Commit(), kErrorSuccess);

  const char* key = "software\\ZENTROVA\\sms\\3.0\\settings";  // any case
  EXPECT_EQ(Read(RegistryRoot::kCurrentUser, key, "http1"), "127.0.0.1:8080");
  EXPECT_EQ(Read(RegistryRoot::kCurrentUser, key, "Path"), "C:\\Temp \"quoted\"");
  EXPECT_EQ(Read(RegistryRoot::kCurrentUser, key, ""), "default");
  EXPECT_EQ(Read(RegistryRoot::kCurrentUser, key, "Lines"), "one\r\ntwo");

  std::string text = HiveText();
  EXPECT_EQ(text.rfind("REGEDIT4\n", 0), 0u) << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software]\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Zentrova\\SMS\\3.0\\Settings]\n"
                      "\"HTTP1\"=\"127.0.0.1:8080\"\n"
                      "\"Path\"=\"C:\\\\Temp \\\"quoted\\\"\"\n"
                      "@=\"default\"\n"),
            std::string::npos)
      << text;
  // The other root has a file of its own.
  EXPECT_FALSE(fs::exists(dir_ / "hives" / "HKEY_CLASSES_ROOT.reg"));

  // A buffer too small: nothing written, the size needed told.
  RegistryKey k;
  ASSERT_EQ(k.Open(RegistryRoot::kCurrentUser, key), kErrorSuccess);
  char buf[8] = "xxxxxxx";
  unsigned long size = 7;
  EXPECT_EQ(k.QueryValue("default", buf, &size), kErrorFileNotFound);
  EXPECT_EQ(k.QueryValue("", buf, &size), kErrorMoreData);
  EXPECT_EQ(size, 8u);
  EXPECT_STREQ(buf, "xxxxxxx");
}

TEST_F(RegistryTest, HandEditedFileIsReadAndOtherTypesSurviveAWrite) {
  WriteHive(
      "REGEDIT4\r\n\r\n"
      "; written by an administrator\r\n"
      "[HKEY_CURRENT_USER\\Software\\Zentrova\\SMS\\3.0\\Settings]\r\n"
      "\"HTTP1\" = \"gw.example\"\r\n"
      "\"Count\"=dword:0000002a\r\n"
      "\"Blob\"=hex:01,02,\\\r\n"
      "  03\r\n"
      "[HKEY_CLASSES_ROOT\\Elsewhere]\r\n"
      "\"X\"=\"not this root\"\r\n");
  const char* key = "Software\\Zentrova\\SMS\\3.0\\Settings";
  EXPECT_EQ(Read(RegistryRoot::kCurrentUser, key, "HTTP1"), "gw.example");

  RegistryKey k;
  ASSERT_EQ(k.Open(RegistryRoot::kCurrentUser, key), kErrorSuccess);
  unsigned char buf[8];
  unsigned long size = sizeof buf;
  ASSERT_EQ(k.QueryValue("Count", buf, &size), kErrorSuccess);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(buf[0], 42);
  size = sizeof buf;
  ASSERT_EQ(k.QueryValue("Blob", buf, &size), kErrorSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), size), "\x01\x02\x03");
  // Parents of a key written by hand exist too.
  std::vector<std::string> sub;
  RegistryKey parent;
  ASSERT_EQ(parent.Open(RegistryRoot::kCurrentUser, "Software\\Zentrova"), kErrorSuccess);
  parent.Subkeys(sub);
  EXPECT_EQ(sub, std::vector<std::string>{"SMS"});
  EXPECT_EQ(Read(RegistryRoot::kCurrentUser, "Elsewhere", "X"), "<no key>");

  RegistryWriter w(RegistryRoot::kCurrentUser);
  w.SetString(key, "HTTP2", "gw2.example");
  ASSERT_EQ(w.Commit(), kErrorSuccess);
  std::string text = HiveText();
  EXPECT_NE(text.find("\"Count\"=dword:0000002a\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Blob\"=hex:01,02,03\n"), std::string::npos) << text;
}

TEST_F(RegistryTest, DeletesAndAFailedBatchAppliesNothing) {
  {
    RegistryWriter w(RegistryRoot::kClassesRoot);
    w.SetString("CLSID\\{1}\\InprocServer32", "", "/lib/x.so");
    w.SetString("CLSID\\{1}", "Keep", "yes");
    w.SetString("Other", "V", "1");
    ASSERT_EQ(w.Commit(), kErrorSuccess);
  }
  {
    RegistryWriter w(RegistryRoot::kClassesRoot);
    w.DeleteValue("Other", "V");
    w.DeleteValue("Other", "Missing");
    EXPECT_EQ(w.Commit(), kErrorFileNotFound);
  }
  EXPECT_EQ(Read(RegistryRoot::kClassesRoot, "Other", "V"), "1");
  {
    RegistryWriter w(RegistryRoot::kClassesRoot);
    w.DeleteTree("clsid\\{1}");
    w.DeleteValue("Other", "V");
    ASSERT_EQ(w.Commit(), kErrorSuccess);
  }
  RegistryKey k;
  EXPECT_EQ(k.Open(RegistryRoot::kClassesRoot, "CLSID\\{1}\\InprocServer32"), kErrorFileNotFound);
  ASSERT_EQ(k.Open(RegistryRoot::kClassesRoot, "CLSID"), kErrorSuccess);  // the parent stays
  long status = 0;
  Read(RegistryRoot::kClassesRoot, "Other", "V", &status);
  EXPECT_EQ(status, kErrorFileNotFound);
  RegistryWriter w(RegistryRoot::kClassesRoot);
  w.DeleteTree("Nowhere");
  EXPECT_EQ(w.Commit(), kErrorFileNotFound);
}

TEST_F(RegistryTest, ConcurrentWritersInTwoProcessesLoseNothing) {
  constexpr int kWrites = 60;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      for (int i = 0; i < kWrites; ++i) {
        RegistryWriter w(RegistryRoot::kCurrentUser);
        w.SetString("Writer" + std::to_string(c), "V" + std::to_string(i), std::to_string(i));
        if (w.Commit() != kErrorSuccess) _exit(1);
      }
      _exit(0);
    }
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int c = 0; c < 2; ++c) {
    RegistryKey k;
    ASSERT_EQ(k.Open(RegistryRoot::kCurrentUser, "Writer" + std::to_string(c)), kErrorSuccess);
    std::vector<RegistryValue> values;
    k.Values(values);
    EXPECT_EQ(values.size(), static_cast<std::size_t>(kWrites));
  }
}

}  // namespace
