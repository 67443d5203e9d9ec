// The gateway mail through a real SMTP server (aiosmtpd) on loopback: what the
// mailbox stores must be the header block and the body exactly as sent.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "mask_date.h"
#include "smtp/gateway_mail.h"
#include "tests/support/real_peers.h"

namespace zentrova::smtp {
namespace {

using test::MaskDate;

class RealMailbox : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(server_.Address().empty()) << "aiosmtpd did not start"; }

  // Sends one gateway mail and returns the data the mailbox stored of it.
  std::string Send(const std::string& body) {
    MailOutcome outcome =
        SendGatewayMail({server_.Address().c_str(), "sender@example.com", "sms@gateway.example",
                         "RUV: sms message", body.c_str()});
    EXPECT_TRUE(outcome.delivered) << outcome.lastError;
    EXPECT_EQ(outcome.lastError, "OK");
    const nlohmann::json mail = server_.Mail(++sent_);
    if (mail.is_null()) return "(not stored)";
    EXPECT_EQ(mail["from"], "sender@example.com");
    EXPECT_EQ(mail["to"], nlohmann::json::array({"sms@gateway.example"}));
    return MaskDate(mail["data"]);  // the bodies here are ASCII: the same text
  }

  testing::MailboxServer server_;
  int sent_ = 0;
};

const std::string kHeaders = test::MailHeaders("<sms@gateway.example>");

TEST_F(RealMailbox, GatewayRequestArrivesAsSent) {
  // A request whose last cipher line holds 14 bytes: its length character is ".".
  std::string request = "M" + std::string(60, '!') + "\r\nM" + std::string(60, '_') + "\r\n." +
                        std::string(20, '#') +
                        "=\r\n\r\n[FROM]\r\nID=ACC1\r\nEmail=sender@example.com\r\n\r\n";
  // The end-of-data marker adds the one empty line after the body.
  EXPECT_EQ(Send(request), kHeaders + request + "\r\n");
}

// Dot lines, a lone dot first and a dot last without a line break, and a bare
// "\n.\n", which must not end the data at a server that reads it as an end
// marker: the mailbox gets one mail with all of it, and the next is the second.
TEST_F(RealMailbox, DotLinesAndBareLineEndsSurviveTransparency) {
  EXPECT_EQ(Send(".\r\na\r\n.\r\n..\r\n.x\r\nvisible\n.\nMAIL From: <forged@example.com>\n"
                 "end\r\n."),
            kHeaders +
                ".\r\na\r\n.\r\n..\r\n.x\r\nvisible\r\n.\r\nMAIL From: <forged@example.com>\r\n"
                "end\r\n.\r\n\r\n");
  EXPECT_EQ(Send("second\r\n"), kHeaders + "second\r\n\r\n");
}

}  // namespace
}  // namespace zentrova::smtp
