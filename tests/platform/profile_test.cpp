#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

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
      "server=proxy.example\n"
      "NoEquals\n"s);
  struct Case {
    const char* section;
    const char* key;
    Lookup lookup;
    const char* value;
  } cases[] = {
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
      {"PROXY", "Server", Lookup::kFound, "proxy.example"},  // blanks inside the brackets trimmed
      {"PROXY", "NoEquals", Lookup::kMissing, ""},
      {"NOSECTION", "Server", Lookup::kMissing, ""},
  };
  for (const auto& c : cases) {
    std::string value = "stale";
    EXPECT_EQ(profile.Find(c.section, c.key, value), c.lookup) << c.section << "/" << c.key;
    EXPECT_EQ(value, c.value) << c.section << "/" << c.key;
  }
}

TEST(Profile, IntegersTakeSignAndLeadingDigits) {
  struct Case {
    const char* text;
    int expected;
  } cases[] = {{"8080", 8080},
               {" -12", -12},
               {"+7", 7},
               {"12abc", 12},
               {"0x1F90", 8080},  // the prefixes of Windows' reader
               {"-0o17", -15},
               {"0b101", 5},
               {"010", 10},
               {"abc", 0},
               {"", 0},
               {"99999999999", 2147483647},
               {"-99999999999", -2147483647 - 1}};
  for (const auto& c : cases) EXPECT_EQ(ProfileInt(c.text), c.expected) << c.text;
}

TEST(Profile, FilesAreReadWholeAndOnlyRegularOnes) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("zv-profile-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "sub.ini");
  std::ofstream(dir / "a.ini") << "[S]\nK=v\n";
  chmod((dir / "a.ini").c_str(), 0644);
  ProfileFile file;
  std::string error;
  EXPECT_EQ(LoadProfileFile((dir / "a.ini").string(), file, error), ProfileLoad::kRead);
  EXPECT_EQ(file.bytes, "[S]\nK=v\n");
  EXPECT_TRUE(file.othersCanRead);
  EXPECT_EQ(LoadProfileFile((dir / "none.ini").string(), file, error), ProfileLoad::kMissing);
  EXPECT_EQ(LoadProfileFile((dir / "sub.ini").string(), file, error), ProfileLoad::kMissing);
  std::filesystem::resize_file(dir / "a.ini", 2 << 20);
  EXPECT_EQ(LoadProfileFile((dir / "a.ini").string(), file, error), ProfileLoad::kFailed);
  EXPECT_NE(error.find("a.ini is 2097152 bytes long"), std::string::npos) << error;
  std::filesystem::remove_all(dir);
}

}  // namespace
