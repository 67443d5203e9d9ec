// The gateway mail's pieces: its date text, the body as it goes on the wire,
// and the mail server name with its port. (The header block and the body's
// last line break are checked in the dialogue tests, byte for byte.)
#include "smtp/mail.h"

#include <gtest/gtest.h>

#include <clocale>
#include <tuple>

#include "smtp/gateway_mail.h"

namespace zentrova::smtp {
namespace {

// Expected texts from GNU date (LC_ALL=C date -u -d @SECONDS).
TEST(MailDate, EnglishTwoDigitYearInUtc) {
  const std::pair<std::time_t, const char*> cases[] = {
      {1796516095, "Sun, 06 Dec 26 00:14:55 -0000"}, {0, "Thu, 01 Jan 70 00:00:00 -0000"},
      {951825600, "Tue, 29 Feb 00 12:00:00 -0000"},  {946684799, "Fri, 31 Dec 99 23:59:59 -0000"},
      {2147483648, "Tue, 19 Jan 38 03:14:08 -0000"},  // past the 32-bit end of time
      {4276141501, "Sat, 04 Jul 05 09:05:01 -0000"}, {std::time_t{1} << 62, ""},  // no year fits
  };
  // Whatever locale the host program chose, the names stay English.
  const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
  for (const auto& [when, text] : cases) EXPECT_EQ(FormatMailDate(when), text) << when;
  if (german) std::setlocale(LC_ALL, "C");
}

TEST(MailBody, TransparencyDoublesLeadingDotsOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {".\r\nnext\r\n", "..\r\nnext\r\n"}, {".hidden\r\n", "..hidden\r\n"},
      {"a\r\n.\r\n.\r\nb\r\n", "a\r\n..\r\n..\r\nb\r\n"}, {"a.b\r\n x.\r\n", "a.b\r\n x.\r\n"},
      {"..two\r\n", "...two\r\n"}, {"end\r\n.", "end\r\n.."},  // a lone dot last, no line break
      // Lone CR and LF become line ends first, so no receiver ends the data early.
      {"a\n.\nMAIL From: <x>\n", "a\r\n..\r\nMAIL From: <x>\r\n"},
      {"a\r.\rb", "a\r\n..\r\nb"}, {"a\n\r.\r\n", "a\r\n\r\n..\r\n"},
  };
  for (const auto& [body, wire] : cases) {
    OutgoingMail mail;
    mail.body = body;
    EXPECT_EQ(TransparentBody(mail), wire) << body;
    EXPECT_EQ(mail.body, body);
  }
}

TEST(ServerName, OptionalPortSuffix) {
  const std::tuple<std::string, bool, std::string, unsigned> cases[] = {
      {"mail.example.com", true, "mail.example.com", 25}, {"[::1]2525", false, "[::1]2525", 0},
      {"mail.example.com:2525", true, "mail.example.com", 2525},
      {"192.0.2.1:587", true, "192.0.2.1", 587},  {"[2001:db8::1]:2525", true, "2001:db8::1", 2525},
      {"[::1]", true, "::1", 25},                 {"2001::db8", true, "2001::db8", 25},
      {"mail:65535", true, "mail", 65535},        {"mail:0", false, "mail:0", 0},
      {"mail:65536", false, "mail:65536", 0},     {"mail:09025", true, "mail", 9025},
      {"mail:002525", false, "mail:002525", 0},          // six digits
      {"mail:25x", false, "mail:25x", 0},         {"mail:", false, "mail:", 0},
      {"mail:25/", false, "mail:25/", 0},         {"[::1", true, "[::1", 25},  // for the resolver
  };
  for (const auto& c : cases) {
    std::string host;
    unsigned port = 99;
    const bool valid = SplitServerName(std::get<0>(c), host, port);
    EXPECT_EQ((std::tuple{std::get<0>(c), valid, host, port}), c);
  }
}

}  // namespace
}  // namespace zentrova::smtp
