// Expected bytes come from the published Windows-1252 and Windows-1251 tables.
// (Pagora's tests cover the conversion of arguments on the wire.)
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace zentrova::platform;

namespace {

// ZENTROVA_CODEPAGE for one case, removed again however the case ends.
class CodePageSetting {
 public:
  explicit CodePageSetting(const char* value) { Set(value); }
  ~CodePageSetting() { unsetenv("ZENTROVA_CODEPAGE"); }
  CodePageSetting(const CodePageSetting&) = delete;
  CodePageSetting& operator=(const CodePageSetting&) = delete;
  void Set(const char* value) { setenv("ZENTROVA_CODEPAGE", value, 1); }
};

TEST(CodePage, Utf16BothWaysUndefinedBytesAndLostCharacters) {
  std::string ansi;
  bool lossy = false;
  ASSERT_TRUE(Utf16ToAnsi(u"caf\u00E9 \u2122", ansi, &lossy));
  EXPECT_EQ(ansi, "caf\xE9 \x99");
  EXPECT_FALSE(lossy);
  // U+1F3FF's second half is the last low surrogate; lone surrogates too, two
  // low ones in a row among them.
  ASSERT_TRUE(Utf16ToAnsi(u"\u041F \U0001F600 \U0001F3FF \xD800! \xDC00\xDC00", ansi, &lossy));
  EXPECT_EQ(ansi, "? ? ? ?! ??");
  EXPECT_TRUE(lossy);
  std::u16string wide;
  ASSERT_TRUE(AnsiToUtf16("caf\xE9 \x99 \x81", wide));
  EXPECT_EQ(wide, u"caf\u00E9 \u2122 ?");  // 0x81 is undefined in 1252
}

TEST(CodePage, LocaleTextWithAnInvalidByteAndAnotherCodePage) {
  std::string out;
  bool lossy = false;
  ASSERT_TRUE(LocaleToAnsi("\xFF\xC3\xBC", out, &lossy));
  EXPECT_EQ(out, "?\xFC");
  EXPECT_TRUE(lossy);
  CodePageSetting codePage("windows-1251");
  EXPECT_EQ(AnsiCodePage(), 1251u);
  std::string back;
  ASSERT_TRUE(AnsiToLocale("\xCF\xF0\xE8", back));
  EXPECT_EQ(back, "\xD0\x9F\xD1\x80\xD0\xB8");
  // A code page number is 1 to 65535; one that iconv lacks fails every conversion.
  for (const auto& [name, number] : {std::pair<const char*, unsigned>{"cp65535", 65535},
                                     {"65536", 0},
                                     {"cp0", 0},
                                     {"1252x", 0}}) {
    codePage.Set(name);
    EXPECT_EQ(AnsiCodePage(), number) << name;
  }
  codePage.Set("64999");
  std::u16string wide;
  EXPECT_FALSE(LocaleToAnsi("x", out));
  EXPECT_FALSE(AnsiToLocale("x", back));
  EXPECT_FALSE(AnsiToUtf16("x", wide));
  EXPECT_FALSE(Utf16ToAnsi(u"x", out, &lossy));
}

TEST(CodePage, Utf8IsToldFromOtherTextAndConverted) {
  // Expected validity as Python's strict UTF-8 decoder judges it.
  struct Case {
    const char* text;
    bool utf8;
  } cases[] = {
      {"", true},
      {"plain", true},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true},
      {"caf\xE9", false},           // Windows-1252
      {"\xC3", false},              // cut short
      {"\xE2\x82", false},          // cut short
      {"\xC0\xAF", false},          // overlong
      {"\xED\xA0\x80", false},      // a surrogate
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
  };
  for (const auto& c : cases) EXPECT_EQ(IsUtf8(c.text), c.utf8) << c.text;

  std::string out;
  bool lossy = false;
  ASSERT_TRUE(Utf8ToAnsi("j\xC3\xB6rg \xE2\x82\xAC", out, &lossy));
  EXPECT_EQ(out, "j\xF6rg \x80");
  EXPECT_FALSE(lossy);
  ASSERT_TRUE(Utf8ToAnsi("\xD0\x9F!", out, &lossy));
  EXPECT_EQ(out, "?!");
  EXPECT_TRUE(lossy);
}

}  // namespace
