#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace zentrova::platform;

namespace {

class CodePageTest : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("ZENTROVA_CODEPAGE"); }
};

// Expected bytes from the published Windows-1252 and Windows-1251 tables.
TEST_F(CodePageTest, Utf8ArgumentsBecomeWindows1252) {
  std::string out;
  bool lossy = false;
  ASSERT_TRUE(LocaleToAnsi("Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC" "5", out, &lossy));
  EXPECT_EQ(out, "Gr\xFC\xDF" "e \x80" "5");
  EXPECT_FALSE(lossy);
  EXPECT_EQ(AnsiCodePage(), 1252u);
}

TEST_F(CodePageTest, CharactersTheCodePageLacksBecomeQuestionMarks) {
  std::string out;
  bool lossy = false;
  // Cyrillic, an emoji (a surrogate pair in UTF-16) and a stray invalid byte.
  ASSERT_TRUE(LocaleToAnsi("\xD0\x9F\xD1\x80 \xF0\x9F\x98\x80 \xFF!", out, &lossy));
  EXPECT_EQ(out, "?? ? ?!");
  EXPECT_TRUE(lossy);
}

TEST_F(CodePageTest, AnotherCodePageByName) {
  setenv("ZENTROVA_CODEPAGE", "1251", 1);
  EXPECT_EQ(AnsiCodePage(), 1251u);
  std::string out;
  bool lossy = false;
  ASSERT_TRUE(LocaleToAnsi("\xD0\x9F\xD1\x80\xD0\xB8", out, &lossy));
  EXPECT_EQ(out, "\xCF\xF0\xE8");
  EXPECT_FALSE(lossy);
  std::string back;
  ASSERT_TRUE(AnsiToLocale(out, back));
  EXPECT_EQ(back, "\xD0\x9F\xD1\x80\xD0\xB8");
}

TEST_F(CodePageTest, Utf16BothWaysAndUndefinedBytes) {
  std::string ansi;
  ASSERT_TRUE(Utf16ToAnsi(u"caf\u00E9 \u2122", ansi));
  EXPECT_EQ(ansi, "caf\xE9 \x99");
  std::u16string wide;
  ASSERT_TRUE(AnsiToUtf16("caf\xE9 \x99 \x81", wide));
  EXPECT_EQ(wide, u"caf\u00E9 \u2122 ?");  // 0x81 is undefined in 1252
}

TEST_F(CodePageTest, UnknownCodePageFailsTheConversion) {
  std::string out;
  setenv("ZENTROVA_CODEPAGE", "latin", 1);
  EXPECT_EQ(AnsiCodePage(), 0u);
  EXPECT_FALSE(LocaleToAnsi("x", out));
  setenv("ZENTROVA_CODEPAGE", "64999", 1);
  EXPECT_FALSE(LocaleToAnsi("x", out));
}

}  // namespace
