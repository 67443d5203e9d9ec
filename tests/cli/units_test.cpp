// The console program's pieces whose cases are too many to run as processes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>

#include "cli/config.h"
#include "cli/pagora.h"
#include "cli/request.h"

using namespace zentrova::cli;
using namespace std::string_literals;

namespace {

TEST(EscapeMessageText, EveryClassOfByte) {
  const std::pair<std::string, std::string> cases[] = {
      {"AZaz09*-_", "AZaz09*-_"}, {"a\nb\rc\r\n", "a%0Abc%0A"},
      {"@[`{/:)+.,^", "%40%5B%60%7B%2F%3A%29%2B%2E%2C%5E"},  // each kept range's neighbours
      {"100% & ~=?", "100%25+%26+%7E%3D%3F"},
      {std::string("\x80\xFF\x01\0", 4), "%80%FF%01%00"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(EscapeMessageText(in), out) << in;
}

// Windows keeps the whole result (batch files test %ERRORLEVEL% for -2);
// elsewhere 8 bits remain, and a failure never becomes success. The known
// results' statuses are README's table, which is what users script against.
TEST(ExitStatus, FailuresNeverBecomeSuccess) {
  const std::pair<int, int> cases[] = {{256, 255}, {-256, 255}, {257, 1},
                                       {9999, 15}, {99, 99},    {2100, 52}};
#ifdef _WIN32
  for (const auto& c : cases) EXPECT_EQ(ExitStatus(c.first), c.first);
#else
  using zentrova::gateway::Known;  // the Windows column: a result exits whole
  const auto windows = [](int r) { return Known(r) ? Known(r)->windowsExit : r; };
  for (const auto& [result, posix] : cases)
    EXPECT_EQ((std::pair{ExitStatus(result), windows(result)}), (std::pair{posix, result}))
        << result;
  // "| 254 | -2 | the HTTP request failed ..." from the rows under "### Exit status".
  std::ifstream readme(ZV_SOURCE_DIR "/README.md");
  std::string line;
  while (std::getline(readme, line) && line != "### Exit status") continue;
  int rows = 0;
  for (int posix = 0, result = 0; std::getline(readme, line) && !line.starts_with("## ");)
    if (std::sscanf(line.c_str(), "| %d | %d |", &posix, &result) == 2) {
      ++rows;
      EXPECT_EQ(ExitStatus(result), posix) << line;
      EXPECT_TRUE(Known(result) || (result >= 0 && result < 100)) << line;  // not a reply code
      EXPECT_EQ(windows(result), result) << line;
    }
  EXPECT_EQ(rows, 13);
  EXPECT_EQ(windows(zentrova::gateway::kSettingUnusable), 78);  // README's row 78: HTTP1 too long
#endif
}

TEST(ParseConfiguration, ValuesReachTheCodePageOrAreRefusedByName) {
  enum Kind { kClean, kWarning, kError };
  struct Case {
    std::string ini;
    std::string field, value;  // the field of the result, as "Section/Key"
    Kind kind;
    std::string line;  // what the first warning or error line holds
    std::size_t lines = 1;
  } cases[] = {
      // UTF-8, with or without the byte-order mark, is converted; other text is taken as it is.
      {"[CONFIG]\nPassword=p\xC3\xA4ss\nEmail=j\xC3\xB6rg@x\n", "CONFIG/Email", "j\xF6rg@x", kClean,
       ""},
      {"\xEF\xBB\xBF[CONFIG]\nPassword=p\xC3\xA4ss\n", "CONFIG/Password", "p\xE4ss", kClean, ""},
      {"[CONFIG]\nPassword=p\xE4ss\nEmail=j\xF6rg@x\n", "CONFIG/Password", "p\xE4ss", kClean, ""},
      {"[PROXY]\nServer=h\nPort=1\nUsername=\xD0\x9F\xC3\xA4\n", "PROXY/Username", "?\xE4",
       kWarning,
       "code page 1252 cannot hold some characters of Username in f.ini; they are sent as \"?\""},
      // Every text key at its buffer's limit, and one byte past it: one warning each.
      {"[CONFIG]\nAccountId=" + std::string(127, 'a') + "\nEmail=" + std::string(127, 'e') +
           "\nPassword=" + std::string(127, 'p'),
       "CONFIG/Password", std::string(127, 'p'), kClean, ""},
      {"[PROXY]\nServer=" + std::string(63, 's') + "\nPort=1\nUsername=" + std::string(63, 'u') +
           "\nPassword=" + std::string(63, 'p'),
       "PROXY/Username", std::string(63, 'u'), kClean, ""},
      {"[PROXY]\nServer=" + std::string(64, 's') + "\nPort=1\nUsername=" + std::string(64, 'u') +
           "\nPassword=" + std::string(64, 'p'),
       "PROXY/Server", std::string(63, 's'), kWarning,
       "[PROXY] Server in f.ini is longer than 63 bytes", 3},
      {"[CONFIG]\nAccountId=" + std::string(128, 'a') + "\nEmail=" + std::string(128, 'e') +
           "\nPassword=" + std::string(128, 'p'),
       "CONFIG/Password", std::string(127, 'p'), kWarning,
       "[CONFIG] AccountId in f.ini is longer than 127 bytes", 3},
      {"[CONFIG]\nAccountId=12\0 34567\n"s, "CONFIG/AccountId", "", kError,
       "[CONFIG] AccountId in f.ini holds a NUL byte, which would end the value there; remove it"},
      {"\xFF\xFE[\0C\0"s, "CONFIG/AccountId", "", kError, "f.ini is saved as UTF-16"},
      {"\xFE\xFF\0[\0C"s, "CONFIG/AccountId", "", kError, "f.ini is saved as UTF-16"},
      // A proxy the transport could not use names the key to change (more in pagora_test).
      {"[PROXY]\nServer=[::1]\nPort=65535\n", "PROXY/Server", "[::1]", kClean, ""},
      {"[PROXY]\nServer=proxy:3128\nPort=3128\n", "PROXY/Server", "proxy:3128", kError,
       "(Server=proxy,"},
      {"[PROXY]\nServer=http://" + std::string(65, 'h') + "\nPort=1\n", "PROXY/Server",
       "http://" + std::string(56, 'h'), kError,
       "is \"http://" + std::string(57, 'h') + "...\": give the proxy's host name or address alone,"
       " without a scheme or a port (Server=" + std::string(64, 'h') + "...,", 2},
      {"[PROXY]\nServer=p\nPort=0\n", "PROXY/Server", "p", kError,
       "[PROXY] Port in f.ini is \"0\": give the proxy's port"},
      {"[PROXY]\nServer=proxy\nPort=" + std::string(20, '0') + "65536\n", "PROXY/Server", "proxy",
       kError, "is \"" + std::string(20, '0') + "6553...\""},  // shown to its 24th byte
  };
  for (const auto& c : cases) {
    Configuration config;
    ConfigurationReport report;
    ParseConfiguration(c.ini, "f.ini", config, report);
    const std::map<std::string, const char*> fields = {{"CONFIG/AccountId", config.accountId},
                                                       {"CONFIG/Password", config.password},
                                                       {"CONFIG/Email", config.email},
                                                       {"PROXY/Server", config.proxyServer},
                                                       {"PROXY/Username", config.proxyUserName}};
    EXPECT_EQ(fields.at(c.field), c.value) << c.ini;
    const auto& lines = c.kind == kError ? report.errors : report.warnings;
    EXPECT_EQ(report.warnings.size() + report.errors.size(), c.kind == kClean ? 0 : c.lines)
        << c.ini;
    EXPECT_NE((lines.empty() ? c.line : lines[0]).find(c.line), std::string::npos) << c.ini;
  }
}

TEST(SendCommandLineRequest, ValuesThatWouldAddLinesAreRefusedUnsent) {
  std::string text = "untouched";
  for (const char* number : {"1\n[2]", "1\x7F", "1\x1F"})
    EXPECT_EQ(SendCommandLineRequest({"a", "e", "p"}, number, "m", text), kUnsafeValue) << number;
  for (const char* end : {"\r", "\n", static_cast<const char*>(nullptr)})
    for (Account a : {Account{end, "e", "p"}, Account{"a", end, "p"}, Account{"a", "e", end}})
      EXPECT_EQ(SendCommandLineRequest(a, "1", "m", text), end ? kUnsafeValue : kMissingInput);
  for (auto [number, message] : {std::pair<const char*, const char*>{nullptr, "m"}, {"1", nullptr}})
    EXPECT_EQ(SendCommandLineRequest({"a", "e", "p"}, number, message, text), kMissingInput);
  EXPECT_EQ(text, "untouched");
}

}  // namespace
