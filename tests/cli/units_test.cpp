// The console program's pieces whose cases are too many to run as processes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "cli/config.h"
#include "cli/pagora.h"
#include "cli/request.h"

using namespace zentrova::cli;

namespace {

TEST(EscapeMessageText, EveryClassOfByte) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"AZaz09*-_", "AZaz09*-_"},
      {"a\nb\rc\r\n", "a%0Abc%0A"},
      {"100% & ~=?", "100%25+%26+%7E%3D%3F"},
      {std::string("\x80\xFF\x01\0", 4), "%80%FF%01%00"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeMessageText(c.in), c.out) << c.in;
}

TEST(ExitStatus, FailuresNeverBecomeSuccess) {
  struct Case {
    int result, status;
  } cases[] = {{0, 0},      {4, 4},     {-1, 255},   {-2, 254}, {-10, 246},
               {3000, 184}, {256, 255}, {-256, 255}, {257, 1},  {9999, 15}};
  for (const auto& c : cases) EXPECT_EQ(ExitStatus(c.result), c.status) << c.result;
}

TEST(ReadConfiguration, AValueTooLongForItsBufferIsNamed) {
  const std::filesystem::path ini =
      std::filesystem::temp_directory_path() / ("zv-ini-" + std::to_string(getpid()));
  std::ofstream(ini) << "[CONFIG]\nAccountId=acct\nPassword=" << std::string(130, 'p')
                     << "\n[PROXY]\nPort=3128\n";
  chmod(ini.c_str(), 0600);
  Configuration c;
  std::vector<std::string> warnings;
  ReadConfiguration(ini.string(), c, warnings);
  std::filesystem::remove(ini);
  EXPECT_STREQ(c.accountId, "acct");
  EXPECT_EQ(std::string(c.password), std::string(127, 'p'));
  EXPECT_EQ(c.proxyPort, 3128);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("[CONFIG] Password"), std::string::npos) << warnings[0];
}

}  // namespace
