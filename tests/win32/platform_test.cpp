// The Windows adapters against the real API (under Wine on the build machine).
// Where Windows' own behaviour differs from the stand-ins elsewhere, the
// expectations here are Windows'.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/codepage.h"
#include "platform/profile.h"
#include "platform/registry.h"

using namespace zentrova::platform;
using namespace std::string_literals;

namespace {

// Expected bytes come from the published Windows-1252 table; validity of
// UTF-8 as Python's strict decoder judges it.
TEST(WinCodePage, ConversionsThroughTheAnsiCodePage) {
  ASSERT_EQ(AnsiCodePage(), 1252u) << "the test runs with an English locale";
  struct Case {
    std::u16string wide;
    const char* ansi;
    bool lossy;
  } cases[] = {
      {u"caf\u00E9 \u2122", "caf\xE9 \x99", false},
      {u"\u041F \U0001F600 \xD800!", "? ? ?!",
       true},                  // one "?" per character, a lone surrogate too
      {u"\u0100", "?", true},  // no best fit: A with macron is not "A"
  };
  for (const auto& c : cases) {
    std::string ansi;
    bool lossy = false;
    ASSERT_TRUE(Utf16ToAnsi(c.wide, ansi, &lossy));
    EXPECT_EQ(ansi, c.ansi);
    EXPECT_EQ(lossy, c.lossy) << c.ansi;
  }
  std::u16string wide;
  ASSERT_TRUE(AnsiToUtf16("caf\xE9 \x99 \x81", wide));
  EXPECT_EQ(wide, u"caf\u00E9 \u2122 \u0081");  // Windows maps 1252's five holes to C1 controls

  std::string out;
  bool lossy = false;
  ASSERT_TRUE(LocaleToAnsi("\xFF\xC3\xBC", out, &lossy));  // arguments come as UTF-8 from wmain
  EXPECT_EQ(out, "?\xFC");
  EXPECT_TRUE(lossy);

  struct Utf8Case {
    const char* text;
    bool utf8;
  } utf8[] = {{"", true},
              {"caf\xC3\xA9 \xE2\x82\xAC", true},
              {"caf\xE9", false},
              {"\xC3", false},
              {"\xC0\xAF", false},
              {"\xED\xA0\x80", false},
              {"\xF4\x90\x80\x80", false}};
  for (const auto& c : utf8) EXPECT_EQ(IsUtf8(c.text), c.utf8) << c.text;
}

class WinFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("zv-win-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir_ / "sub.ini");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const char* name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return (dir_ / name).string();
  }
  std::filesystem::path dir_;
};

// The file is read through the private-profile API; the kit's rules then
// apply to what that API handed out.
TEST_F(WinFiles, ProfilesAreReadThroughThePrivateProfileApi) {
  const std::string path = Write("pagora.ini",
                                 "[CONFIG]\r\n"
                                 "AccountId = acct1 \r\n"
                                 "; Email=commented@out\r\n"
                                 "Quoted=\"  padded  \"\r\n"
                                 "Dup=first\r\n"
                                 "Dup=second\r\n"
                                 "[proxy]\r\n"
                                 "Server=proxy.example\r\n"
                                 "Port=8080\r\n");
  ProfileFile file;
  std::string error;
  ASSERT_EQ(LoadProfileFile(path, file, error), ProfileLoad::kRead) << error;
  EXPECT_FALSE(file.othersCanRead);  // Windows has no such notion to warn about
  Profile profile(file.bytes);
  struct Case {
    const char *section, *key, *value;
  } cases[] = {{"CONFIG", "accountid", "acct1"},     {"CONFIG", "Email", ""},
               {"CONFIG", "Quoted", "  padded  "},   {"CONFIG", "Dup", "first"},
               {"PROXY", "Server", "proxy.example"}, {"PROXY", "Port", "8080"}};
  for (const auto& c : cases) {
    std::string value;
    profile.Find(c.section, c.key, value);
    EXPECT_EQ(value, c.value) << c.key;
  }
  EXPECT_EQ(LoadProfileFile((dir_ / "none.ini").string(), file, error), ProfileLoad::kMissing);
  EXPECT_EQ(LoadProfileFile((dir_ / "sub.ini").string(), file, error), ProfileLoad::kMissing);
}

// Windows' integer reader (GetPrivateProfileInt) takes base prefixes, which
// the kit's reader follows; past 32 bits Windows wraps around, where the kit
// clamps rather than take a port nobody wrote.
TEST_F(WinFiles, IntegersReadAsTheProfileApiReadsThem) {
  struct Case {
    const char* text;
    int windows, kit;
  } cases[] = {{"8080", 8080, 8080},
               {" -12", -12, -12},
               {"+7", 7, 7},
               {"12abc", 12, 12},
               {"abc", 0, 0},
               {"", 0, 0},
               {"0x1F90", 8080, 8080},
               {"-0o17", -15, -15},
               {"0b101", 5, 5},
               {"010", 10, 10},
               {"99999999999", 1215752191, INT_MAX}};
  for (const auto& c : cases) {
    const std::string path = Write("int.ini", "[S]\r\nK="s + c.text + "\r\n");
    int api = static_cast<int>(GetPrivateProfileIntA("S", "K", 0, path.c_str()));
    EXPECT_EQ(api, c.windows) << "GetPrivateProfileInt " << c.text;
    EXPECT_EQ(ProfileInt(c.text), c.kit) << "ProfileInt " << c.text;
  }
}

// ---- the real registry ---------------------------------------------------------

constexpr const char* kBase = "Software\\ZentrovaTest";

std::string Read(const char* key, const char* value, long* status = nullptr) {
  RegistryKey k;
  long rc = k.Open(RegistryRoot::kCurrentUser, key).code;
  char buf[512];
  unsigned long size = sizeof buf;
  if (rc == kErrorSuccess) rc = k.QueryValue(value, buf, &size);
  if (status) *status = rc;
  return rc == kErrorSuccess ? std::string(buf, size ? size - 1 : 0) : "<none>";
}

class WinRegistry : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kBase); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kBase); }
};

TEST_F(WinRegistry, ValuesRoundTripInAnyCaseAndKeysKeepTheirStoredCase) {
  RegistryWriter w(RegistryRoot::kCurrentUser);
  w.SetString("Software\\ZentrovaTest\\SMS\\3.0\\Settings", "HTTP1", "127.0.0.1:8080");
  w.SetString("Software\\ZentrovaTest\\SMS\\3.0\\Settings", "", "default");
  w.CreateKey("Software\\ZentrovaTest\\SMS\\3.0\\Settings\\Sub");
  RegistryStatus written = w.Commit();
  ASSERT_EQ(written.code, kErrorSuccess) << written.message;

  const char* key = "software\\ZENTROVATEST\\sms\\3.0\\settings";
  EXPECT_EQ(Read(key, "http1"), "127.0.0.1:8080");
  EXPECT_EQ(Read(key, ""), "default");
  long status = 0;
  Read(key, "missing", &status);
  EXPECT_EQ(status, kErrorFileNotFound);
  Read("Software\\ZentrovaTest\\None", "x", &status);
  EXPECT_EQ(status, kErrorFileNotFound);

  RegistryKey k;
  ASSERT_EQ(k.Open(RegistryRoot::kCurrentUser, key).code, kErrorSuccess);
  EXPECT_EQ(k.Path(), "Software\\ZentrovaTest\\SMS\\3.0\\Settings");
  char small[4];
  unsigned long size = sizeof small;
  EXPECT_EQ(k.QueryValue("HTTP1", small, &size), kErrorMoreData);
  EXPECT_EQ(size, 15u);  // the text and its terminator
  std::vector<std::string> subkeys;
  ASSERT_EQ(k.Subkeys(subkeys), kErrorSuccess);
  EXPECT_EQ(subkeys, std::vector<std::string>{"Sub"});
}

// Windows has no transaction for a batch: a step that fails undoes the steps
// before it, so a registration is there whole or not at all.
TEST_F(WinRegistry, AFailingBatchLeavesTheRegistryAsItWas) {
  RegistryWriter before(RegistryRoot::kCurrentUser);
  before.SetString("Software\\ZentrovaTest\\Keep", "Value", "old");
  before.SetString("Software\\ZentrovaTest\\Tree\\Leaf", "Inner", "kept");
  ASSERT_EQ(before.Commit().code, kErrorSuccess);

  RegistryWriter batch(RegistryRoot::kCurrentUser);
  batch.SetString("Software\\ZentrovaTest\\Keep", "Value", "new");
  batch.SetString("Software\\ZentrovaTest\\New\\Deep", "Value", "x");
  batch.DeleteTree("Software\\ZentrovaTest\\Tree");
  batch.DeleteValue("Software\\ZentrovaTest\\Keep", "NoSuchValue");
  EXPECT_EQ(batch.Commit().code, kErrorFileNotFound);

  EXPECT_EQ(Read("Software\\ZentrovaTest\\Keep", "Value"), "old");
  EXPECT_EQ(Read("Software\\ZentrovaTest\\Tree\\Leaf", "Inner"), "kept");
  long status = 0;
  Read("Software\\ZentrovaTest\\New", "", &status);
  EXPECT_EQ(status, kErrorFileNotFound);

  RegistryWriter removal(RegistryRoot::kCurrentUser);
  removal.DeleteTree("Software\\ZentrovaTest\\Tree");
  ASSERT_EQ(removal.Commit().code, kErrorSuccess);
  Read("Software\\ZentrovaTest\\Tree", "", &status);
  EXPECT_EQ(status, kErrorFileNotFound);  // the key itself goes too
}

}  // namespace
