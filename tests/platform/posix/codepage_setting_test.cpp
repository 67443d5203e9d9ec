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
  // One that iconv lacks fails every conversion.
  setenv("ZENTROVA_CODEPAGE", "64999", 1);
  std::u16string wide;
  EXPECT_FALSE(LocaleToAnsi("x", back) || AnsiToLocale("x", back) || AnsiToUtf16("x", wide) ||
               Utf16ToAnsi(u"x", back));
}

}  // namespace
