// Linux has no system code page of its own: ZENTROVA_CODEPAGE names another
// one than Windows-1252 (expected bytes from the published Windows-1251 table).
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/codepage.h"

using namespace zentrova::platform;

namespace {

TEST(CodePage, AnotherCodePageIsTakenFromTheSetting) {
  struct Unset {
    ~Unset() { unsetenv("ZENTROVA_CODEPAGE"); }
  } unset;
  setenv("ZENTROVA_CODEPAGE", "windows-1251", 1);
  EXPECT_EQ(AnsiCodePage(), 1251u);
  std::string back;
  ASSERT_TRUE(AnsiToLocale("\xCF\xF0\xE8", back));
  EXPECT_EQ(back, "\xD0\x9F\xD1\x80\xD0\xB8");
  setenv("ZENTROVA_CODEPAGE", "64999", 1);
  std::string out;
  EXPECT_FALSE(LocaleToAnsi("x", out));
}

}  // namespace
