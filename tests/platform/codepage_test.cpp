// Expected bytes come from the published Windows-1252 table.
// (Pagora's tests cover the conversion of arguments on the wire.)
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include "tests/platform/contract.h"

using namespace zentrova::platform;

namespace {

TEST(CodePage, Utf16BothWaysUndefinedBytesAndLostCharacters) {
  ASSERT_EQ(AnsiCodePage(), 1252u) << "the test runs with an English locale";
  const std::tuple<std::u16string, const char*, bool> cases[] = {
      {u"caf\u00E9 \u2122", "caf\xE9 \x99", false},
      // One "?" per character: U+10000 and U+10FFFD take the first and the
      // last high surrogate, U+1F3FF's second half is the last low one; a lone surrogate too.
      {u"\u041F \U00010000 \U0010FFFD \U0001F3FF \xD800!", "? ? ? ? ?!", true},
      {u"\u0100", "?", true},         // no best fit: A with macron is not "A"
      {u"\xDC00\xDC00", "??", true},  // two low surrogates are no pair
  };
  for (const auto& [wide, want, lossyWanted] : cases) {
    std::string ansi;
    bool lossy = false;
    ASSERT_TRUE(Utf16ToAnsi(wide, ansi, &lossy));
    EXPECT_EQ(ansi, want);
    EXPECT_EQ(lossy, lossyWanted) << want;
  }
  std::u16string wide;
  ASSERT_TRUE(AnsiToUtf16("caf\xE9 \x80 \x81", wide));
  EXPECT_EQ(wide, u"caf\u00E9 \u20AC " + std::u16string(zentrova::testing::os::kUndefinedAnsiByte));

  std::string out;
  bool lossy = false;
  ASSERT_TRUE(LocaleToAnsi("\xFF\xC3\xBC", out, &lossy));  // an invalid byte
  EXPECT_EQ(out, "?\xFC");
  EXPECT_TRUE(lossy);
}

TEST(CodePage, Utf8IsToldFromOtherTextAndConverted) {
  // Expected validity as Python's strict UTF-8 decoder judges it.
  const std::pair<const char*, bool> cases[] = {
      {"", true},
      {"plain", true},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true},
      {"caf\x80", false},           // Windows-1252's euro sign
      {"\xC3", false},              // cut short
      {"\xE2\x82", false},          // cut short
      {"\xC0\xAF", false},          // overlong
      {"\xED\xA0\x80", false},      // a surrogate
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
  };
  for (const auto& [text, utf8] : cases) EXPECT_EQ(IsUtf8(text), utf8) << text;
  EXPECT_TRUE(IsUtf8("\xC3\xA9" + std::string(1100, 'x')));  // more than a buffer's worth

  std::string out;
  bool lossy = false;
  ASSERT_TRUE(Utf8ToAnsi("j\xC3\xB6rg \xE2\x82\xAC", out, &lossy));
  EXPECT_EQ(out, "j\xF6rg \x80");
  EXPECT_FALSE(lossy);
  ASSERT_TRUE(Utf8ToAnsi("\xD0\x9F \xF0\x9F\x98\x80!", out, &lossy));  // one "?" each
  EXPECT_EQ(out, "? ?!");
  EXPECT_TRUE(lossy);
}

}  // namespace
