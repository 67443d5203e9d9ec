// The console program's pieces that need no gateway.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli/config.h"
#include "cli/pagora.h"
#include "cli/request.h"

namespace fs = std::filesystem;
using namespace zentrova::cli;

namespace {

TEST(EscapeMessageText, EveryClassOfByte) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"Hi there.\r\nBye", "Hi+there%2E%0ABye"},
      {"AZaz09*-_", "AZaz09*-_"},
      {"a\nb\rc\r\n", "a%0Abc%0A"},
      {"100% & ~=?", "100%25+%26+%7E%3D%3F"},
      {std::string("\x80\xFF\x01", 3), "%80%FF%01"},
      {std::string("\0", 1), "%00"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeMessageText(c.in), c.out) << c.in;
  // The longest message triples at most.
  EXPECT_EQ(EscapeMessageText(std::string(kMaxMessageBytes, '.')).size(), 3 * kMaxMessageBytes);
}

TEST(ComposeRequestDocument, TwelveLinesEachEndingInLf) {
  EXPECT_EQ(ComposeRequestDocument("me@example.com", "acct", "p w", "Hi+there", "0419000000"),
            "[FROM]\n"
            "Email=me@example.com\n"
            "\n"
            "[SENDER]\n"
            "ID=acct\n"
            "PW=p w\n"
            "Product=APIEXE\n"
            "\n"
            "\n"
            "[1]\n"
            "Message=Hi+there\n"
            "Number=0419000000\n");
}

TEST(SendCommandLineRequest, RefusalsSendNothingAndLeaveTheResultText) {
  std::string text = "earlier";
  EXPECT_EQ(SendCommandLineRequest("a", "e", nullptr, "1", "m", text), kMissingInput);
  EXPECT_EQ(SendCommandLineRequest("a", "e", "p", "1", std::string(766, 'x').c_str(), text), kMessageTooLong);
  EXPECT_EQ(text, "earlier");
}

TEST(SplitRecipients, EmptyFieldsGiveNoNumber) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitRecipients("0419000000"), V{"0419000000"});
  EXPECT_EQ(SplitRecipients("1,,2"), (V{"1", "2"}));
  EXPECT_EQ(SplitRecipients(",1,2,"), (V{"1", "2"}));
  EXPECT_EQ(SplitRecipients(" 1 , 2"), (V{" 1 ", " 2"}));  // passed on as typed
  EXPECT_EQ(SplitRecipients(","), V{});
  EXPECT_EQ(SplitRecipients(""), V{});
}

TEST(ExitStatus, FailuresNeverBecomeSuccess) {
  struct Case {
    int result, status;
  } cases[] = {{0, 0},     {2, 2},     {4, 4},     {10, 10},    {99, 99},     {-1, 255},
               {-2, 254},  {-10, 246}, {3000, 184}, {256, 255}, {512, 255},   {-256, 255},
               {257, 1},   {9999, 15}};
  for (const auto& c : cases) EXPECT_EQ(ExitStatus(c.result), c.status) << c.result;
}

TEST(FileVersionReader, FourPartsOrNothingWhenTheBufferIsSmall) {
  char buf[19];
  std::fill(std::begin(buf), std::end(buf), 'x');
  FileVersionReader(buf, 18);
  EXPECT_EQ(buf[0], 'x');
  FileVersionReader(buf, sizeof buf);
  EXPECT_STREQ(buf, ZV_PROJECT_VERSION);
}

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zv-config-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    fs::create_directories(dir_ / "prog");
    setenv("XDG_CONFIG_HOME", (dir_ / "xdg").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(dir_);
  }
  void Write(const fs::path& p, const std::string& text, mode_t mode = 0600) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
    chmod(p.c_str(), mode);
  }
  fs::path dir_;
};

TEST_F(ConfigTest, LookupOrderProgramFolderEitherSpellingThenUserThenSystem) {
  const std::string prog = (dir_ / "prog").string();
  EXPECT_EQ(FindConfigurationFile(prog), fs::exists("/etc/pagora/pagora.ini") ? "/etc/pagora/pagora.ini" : "");
  Write(dir_ / "xdg/pagora/pagora.ini", "");
  EXPECT_EQ(FindConfigurationFile(prog), (dir_ / "xdg/pagora/pagora.ini").string());
  Write(dir_ / "prog/Pagora.ini", "");
  EXPECT_EQ(FindConfigurationFile(prog), prog + "/Pagora.ini");
  Write(dir_ / "prog/pagora.ini", "");
  EXPECT_EQ(FindConfigurationFile(prog), prog + "/pagora.ini");
}

TEST_F(ConfigTest, ReadsTheKeysAndWarnsAboutWhatAUserShouldFix) {
  const fs::path ini = dir_ / "prog/pagora.ini";
  Write(ini,
        "[CONFIG]\nAccountId=acct\nPassword=" + std::string(130, 'p') +
            "\nEmail=me@example.com\n[PROXY]\nServer=proxy.example\nPort=3128\nUsername=u\nPassword=pp\n",
        0644);
  Configuration c;
  std::vector<std::string> warnings;
  ReadConfiguration(ini.string(), c, warnings);
  EXPECT_STREQ(c.accountId, "acct");
  EXPECT_EQ(std::string(c.password), std::string(127, 'p'));
  EXPECT_STREQ(c.email, "me@example.com");
  EXPECT_STREQ(c.proxyServer, "proxy.example");
  EXPECT_EQ(c.proxyPort, 3128);
  EXPECT_STREQ(c.proxyUserName, "u");
  EXPECT_STREQ(c.proxyPassword, "pp");
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("[CONFIG] Password"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find("chmod o-r"), std::string::npos) << warnings[1];

  // Private to its owner: no warning about readers.
  chmod(ini.c_str(), 0640);
  warnings.clear();
  ReadConfiguration(ini.string(), c, warnings);
  EXPECT_EQ(warnings.size(), 1u);
}

}  // namespace
