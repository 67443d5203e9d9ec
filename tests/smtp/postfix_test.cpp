// The gateway mail through Postfix, set up as strictly as careful sites run
// it: HELO must carry a fully qualified name or an address literal, and a line
// ending in a bare LF is refused. What the maildir holds is compared with what
// was sent, byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/socket.h"
#include "platform/trace.h"
#include "smtp/gateway_mail.h"
#include "support.h"
#include "tests/support/real_peers.h"

namespace zentrova::smtp {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using test::MaskDate;
using testing::Postfix;

// The maildir file with CR LF line ends again, from the first line we sent:
// Postfix puts its Return-Path, Delivered-To and Received lines before it.
std::string AsSent(const std::string& stored) {
  std::string crlf;
  for (char c : stored) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::size_t date = crlf.find("\r\nDate: ");
  return date == std::string::npos ? crlf : MaskDate(crlf.substr(date + 2));
}

// One case for the whole program: ctest runs each case as a process of its
// own, and Postfix takes seconds to start.
//
// A host whose own name is short ("vm", the Debian default) is refused by
// Postfix (504 "need fully-qualified hostname"); HELO then carries the
// resolver's fully qualified name for it, or the connection's address. A
// refused only recipient ends the mail before DATA, and the trace says why.
TEST(PostfixMail, HeloIsAcceptedWhateverTheHostIsCalledAndRefusalsAreExplained) {
  Postfix server;
  if (!server.Ready() && geteuid() != 0) GTEST_SKIP() << server.Problem();
  ASSERT_TRUE(server.Ready()) << server.Problem();
  const std::string body = "M!!!!\r\n.dot line\r\nbare\nline feed\r\n[FROM]\r\nID=ACC1";
  const std::string expected =
      test::MailHeaders("<"s + Postfix::kMailbox + ">") +
      "M!!!!\r\n.dot line\r\nbare\r\nline feed\r\n[FROM]\r\nID=ACC1\r\n\r\n";
  // The host's name and canonical name, and what Postfix's Received line says it was told.
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"client.zentrova.test", "", "Received: from client.zentrova.test (localhost [127.0.0.1])"},
      {"vm", "vm.zentrova.test", "Received: from vm.zentrova.test (localhost [127.0.0.1])"},
      {"vm", "vm", "Received: from [127.0.0.1] (localhost [127.0.0.1])"},
  };
  for (const auto& [host, canonical, received] : cases) {
    SCOPED_TRACE(host);
    test::FixHostNames(host, canonical);
    std::string lastError;
    EXPECT_TRUE(test::SendMail(server.Address(), Postfix::kMailbox, body, lastError))
        << lastError << server.Log();
    const std::string stored = server.NextDelivery(20s);
    EXPECT_NE(stored.find(received), std::string::npos) << stored;
    EXPECT_EQ(AsSent(stored), expected);
  }
  platform::FixLocalHostNames(nullptr);

  testing::TempDir dir;
  std::string lastError;
  {
    platform::Trace trace(dir.File("trace.log"), [](const std::string&) {});
    EXPECT_FALSE(test::SendMail(server.Address(), "nobody@gateway.zentrova.test", "Hi", lastError));
  }
  EXPECT_EQ(lastError, "550:SMTP server error");
  const std::string trace = testing::ReadFile(dir.File("trace.log"));
  EXPECT_NE(trace.find("smtp command=\"RCPT TO: <nobody@gateway.zentrova.test>\" reply=550 "
                       "text=\"550 5.1.1 <nobody@gateway.zentrova.test>: Recipient address "
                       "rejected: User unknown in virtual mailbox table\""),
            std::string::npos)
      << trace;
  EXPECT_EQ(trace.find("command=\"DATA\""), std::string::npos) << trace;
  EXPECT_NE(trace.find("smtp command=\"QUIT\" reply=221 text=\"221 2.0.0 Bye\""), std::string::npos)
      << trace;
}

}  // namespace
}  // namespace zentrova::smtp
