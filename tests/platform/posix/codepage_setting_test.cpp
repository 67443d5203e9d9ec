// Linux has no system code page of its own: ZENTROVA_CODEPAGE names another
// one than Windows-1252 (expected bytes from the published Windows-1251 table).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <utility>

#include "platform/codepage.h"

using namespace zentrova::platform;

namespace {

TEST(CodePage, AnotherCodePageIsTakenFromTheSetting) {
  struct Unset {
    ~Unset() { unsetenv("ZENTROVA_CODEPAGE"); }
  } unset;
  // A code page number is 1 to 65535; the last one named stays for the conversions below.
  const std::pair<const char*, unsigned> numbers[] = {
      {"cp65535", 65535}, {"65536", 0}, {"9", 9}, {"1", 1}, {"1252x", 0}, {"windows-1251", 1251}};
  for (const auto& [name, number] : numbers) {
    setenv("ZENTROVA_CODEPAGE", name, 1);
    EXPECT_EQ(AnsiCodePage(), number) << name;
  }
  std::string back;
  EXPECT_TRUE(AnsiToLocale("\xCF\xF0\xE8!", back) && back == "\xD0\x9F\xD1\x80\xD0\xB8!");
  EXPECT_TRUE(Utf16ToAnsi(u"\u0080", back) && back == "?");  // U+0080 is not in it (Python: cp1251)
  // UTF-8 as the code page holds every character, one outside the 16-bit range too.
  setenv("ZENTROVA_CODEPAGE", "65001", 1);
  EXPECT_TRUE(Utf8ToAnsi("\xF0\x9F\x98\x80", back) && back == "\xF0\x9F\x98\x80");
  // Code pages iconv knows by another name than "CPnnnn" (bytes from Python's codecs). A byte
  // that is no UTF-8 cannot be held by ISO-8859-1 even though U+0080 can.
  const struct {
    const char* page;
    const char* ansi;
    const char* utf8;
  } named[] = {{"28591", "\x80", "\xC2\x80"}, {"28595", "\xB0", "\xD0\x90"},
               {"20866", "\xC1", "\xD0\xB0"}};
  for (const auto& [page, ansi, utf8] : named) {
    setenv("ZENTROVA_CODEPAGE", page, 1);
    EXPECT_TRUE(AnsiToLocale(ansi, back) && back == utf8) << page;
    EXPECT_TRUE(Utf8ToAnsi(utf8, back) && back == ansi) << page;
  }
  setenv("ZENTROVA_CODEPAGE", "819", 1);
  EXPECT_TRUE(Utf8ToAnsi("\x80\xC2\x80", back) && back == "?\x80");
  setenv("ZENTROVA_CODEPAGE", "20127", 1);
  EXPECT_TRUE(AnsiToLocale("A\x80", back) && back == "A?");
  EXPECT_TRUE(Utf8ToAnsi("\xC3\xA9", back) && back == "?");
  // One that iconv lacks fails every conversion.
  setenv("ZENTROVA_CODEPAGE", "64999", 1);
  std::u16string wide;
  EXPECT_FALSE(LocaleToAnsi("x", back) || AnsiToLocale("x", back) || AnsiToUtf16("x", wide) ||
               Utf16ToAnsi(u"x", back));
}

}  // namespace
