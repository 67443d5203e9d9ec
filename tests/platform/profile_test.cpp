#include "platform/profile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

using namespace zentrova::platform;

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zv-profile-XXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = tmpl;
  }
  void TearDown() override { std::remove(path_.c_str()); }
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string Get(const char* section, const char* key, std::size_t size = 128,
                  const char* def = "dflt") {
    char buf[256];
    std::size_t n = ReadProfileString(section, key, def, buf, size, path_);
    EXPECT_EQ(n, std::string(buf).size());
    return buf;
  }
  std::string path_;
};

TEST_F(ProfileTest, StringsFollowTheWindowsReadingRules) {
  Write(
      "\xEF\xBB\xBF[CONFIG]\r\n"
      "AccountId=acct1\r\n"
      "  Password  =   secret with blanks   \r\n"
      "; Email=commented@out\r\n"
      "Quoted=\"  padded  \"\r\n"
      "Empty=\r\n"
      "Dup=first\r\n"
      "Dup=second\r\n"
      "[ proxy ]\n"
      "server=proxy.example\n"
      "NoEquals\n");
  struct Case {
    const char* section;
    const char* key;
    std::size_t size;
    const char* expected;
  } cases[] = {
      {"CONFIG", "AccountId", 128, "acct1"},  // first key after the byte-order mark
      {"config", "ACCOUNTID", 128, "acct1"},  // names in any case
      {"CONFIG", "Password", 128, "secret with blanks"},
      {"CONFIG", "Email", 128, "dflt"},  // comment lines hold no keys
      {"CONFIG", "Quoted", 128, "  padded  "},
      {"CONFIG", "Empty", 128, ""},  // present but empty: not the default
      {"CONFIG", "Dup", 128, "first"},
      {"PROXY", "Server", 128, "proxy.example"},  // blanks inside the brackets trimmed
      {"PROXY", "NoEquals", 128, "dflt"},
      {"NOSECTION", "Server", 128, "dflt"},
      {"CONFIG", "Password", 7, "secret"},  // cut to size less one
      {"CONFIG", "Password", 1, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Get(c.section, c.key, c.size), c.expected) << c.section << "/" << c.key;
}

TEST_F(ProfileTest, MissingFileGivesTheTrimmedDefault) {
  std::remove(path_.c_str());
  EXPECT_EQ(Get("CONFIG", "AccountId", 128, "dflt  "), "dflt");
  EXPECT_EQ(ReadProfileInt("PROXY", "Port", 8080, path_), 8080);
}

TEST_F(ProfileTest, IntegersTakeSignAndLeadingDigits) {
  Write("[PROXY]\nA=8080\nB= -12\nC=+7\nD=12abc\nE=abc\nF=\nG=99999999999\nH=-99999999999\n");
  struct Case {
    const char* key;
    int expected;
  } cases[] = {{"A", 8080},    {"B", -12}, {"C", 7},          {"D", 12},
               {"E", 0},       {"F", 0},   {"G", 2147483647}, {"H", -2147483647 - 1},
               {"Missing", 55}};
  for (const auto& c : cases)
    EXPECT_EQ(ReadProfileInt("proxy", c.key, 55, path_), c.expected) << c.key;
}

}  // namespace
