#include "platform/profile.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>

#include "tests/platform/contract.h"

using namespace zentrova::platform;

namespace {

using Lookup = Profile::Lookup;
using namespace std::string_literals;

TEST(Profile, TextFollowsTheWindowsReadingRules) {
  const Profile profile(
      "\xEF\xBB\xBF[CONFIG]\r\n"
      "AccountId=acct1\r\n"
      "  Password  =   secret with blanks   \r\n"
      "; Email=commented@out\r\n"
      "Quoted=\"  padded  \"\r\n"
      "Empty=\r\n"
      "EmptyQuoted=\"\"\r\n"
      "Single='  x  '\r\n"
      "Mixed=\"a'\r\n"
      "Lone=\"\r\n"
      "\v\fBlanks\t=\f x \v\r\n"
      "Dup=first\r\n"
      "Dup=second\r\n"
      "Nul=12\0 34567\n"
      "Cr=a\rInjected=b\n"
      "[ proxy ]\n"
      "NoEquals\n"
      "server=proxy.example"s);
  const std::tuple<const char*, const char*, Lookup, const char*> cases[] = {
      {"CONFIG", "AccountId", Lookup::kFound, "acct1"},  // first key after the byte-order mark
      {"config", "ACCOUNTID", Lookup::kFound, "acct1"},  // names in any case
      {"CONFIG", "Password", Lookup::kFound, "secret with blanks"},
      {"CONFIG", "Email", Lookup::kMissing, ""},  // comment lines hold no keys
      {"CONFIG", "Quoted", Lookup::kFound, "  padded  "},
      {"CONFIG", "Empty", Lookup::kFound, ""},  // present but empty
      {"CONFIG", "EmptyQuoted", Lookup::kFound, ""},
      {"CONFIG", "Single", Lookup::kFound, "  x  "},
      {"CONFIG", "Mixed", Lookup::kFound, "\"a'"},  // quotes that do not match stay
      {"CONFIG", "Lone", Lookup::kFound, "\""},
      {"CONFIG", "Blanks", Lookup::kFound, "x"},  // every blank trimmed
      {"CONFIG", "Dup", Lookup::kFound, "first"},
      {"CONFIG", "Nul", Lookup::kHoldsNul, ""},  // never "12"
      {"CONFIG", "Cr", Lookup::kFound, "a"},     // a lone CR ends the line too
      {"CONFIG", "Injected", Lookup::kFound, "b"},
      {" PROXY\t", " Server ", Lookup::kFound, "proxy.example"},  // padded names; no final line end
      {"PROXY", "NoEquals", Lookup::kMissing, ""},
      {"NOSECTION", "Server", Lookup::kMissing, ""},
  };
  for (const auto& [section, key, lookup, want] : cases) {
    std::string value = "stale";
    EXPECT_EQ(profile.Find(section, key, value), lookup) << section << "/" << key;
    EXPECT_EQ(value, want) << section << "/" << key;
  }
}

// The kit reads integers as Windows' GetPrivateProfileInt does, base prefixes
// too; past 32 bits Windows wraps around, where the kit clamps rather than
// take a port nobody wrote. The system's column is checked where there is one.
TEST(Profile, IntegersTakeSignAndLeadingDigits) {
  const std::tuple<const char*, int, int> cases[] = {{"8080", 8080, 8080},
                                                     {" -12", -12, -12},
                                                     {"+7", 7, 7},
                                                     {"12.abc", 12, 12},
                                                     {"0x1fA0", 8096, 8096},
                                                     {"-0o17", -15, -15},
                                                     {"0b101", 5, 5},
                                                     {"010", 10, 10},
                                                     {"abc", 0, 0},
                                                     {"", 0, 0},
                                                     {"99999999999", INT_MAX, 1215752191},
                                                     {"-2147483648", INT_MIN, INT_MIN}};
  zentrova::testing::ScratchDir dir;
  for (const auto& [text, kit, windows] : cases) {
    EXPECT_EQ(ProfileInt(text), kit) << text;
    if (auto system = zentrova::testing::os::SystemProfileInt(text, dir.Path())) {
      EXPECT_EQ(*system, windows) << "the system's reader: " << text;
    }
  }
}

// Through the OS's reader (Windows: the private-profile API), the kit's rules
// then apply to what it handed out.
TEST(Profile, FilesAreReadWholeAndOnlyRegularOnes) {
  zentrova::testing::ScratchDir dir;
  std::filesystem::create_directories(dir.Path() / "sub.ini");
  const auto ini = dir.Path() / "pagora.ini";
  std::ofstream(ini, std::ios::binary) << "[CONFIG]\r\n"
                                          "AccountId = acct1 \r\n"
                                          "; Email=commented@out\r\n"
                                          "Quoted=\"  padded  \"\r\n"
                                          "Dup=first\r\n"
                                          "Dup=second\r\n"
                                          "[proxy]\r\n"
                                          "Server=proxy.example\r\n"
                                          "Port=8080\r\n";
  const bool othersCanRead = zentrova::testing::os::LetOthersRead(ini);
  ProfileFile file;
  std::string error;
  ASSERT_EQ(LoadProfileFile(ini.string(), file, error), ProfileLoad::kRead) << error;
  EXPECT_EQ(file.othersCanRead, othersCanRead);
  const Profile profile(file.bytes);
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"CONFIG", "accountid", "acct1"},     {"CONFIG", "Email", ""},
      {"CONFIG", "Quoted", "  padded  "},   {"CONFIG", "Dup", "first"},
      {"PROXY", "Server", "proxy.example"}, {"PROXY", "Port", "8080"}};
  for (const auto& [section, key, want] : cases) {
    std::string value;
    profile.Find(section, key, value);
    EXPECT_EQ(value, want) << key;
  }
  EXPECT_EQ(LoadProfileFile((dir.Path() / "none.ini").string(), file, error),
            ProfileLoad::kMissing);
  EXPECT_EQ(LoadProfileFile((dir.Path() / "sub.ini").string(), file, error), ProfileLoad::kMissing);
  std::filesystem::resize_file(ini, 2 << 20);
  EXPECT_EQ(LoadProfileFile(ini.string(), file, error), ProfileLoad::kFailed);
  EXPECT_NE(error.find(zentrova::testing::os::kTooLargeProfile), std::string::npos) << error;
}

}  // namespace
