// The gateway mail through a real SMTP server (aiosmtpd) on loopback: what the
// mailbox stores must be the header block and the body exactly as sent.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include "child_process.h"
#include "mask_date.h"
#include "smtp/gateway_mail.h"

namespace zentrova::smtp {
namespace {

std::string Base64Decode(const std::string& in) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned value = 0;
  int bits = 0;
  for (char c : in) {
    std::size_t v = kAlphabet.find(c);
    if (v == std::string::npos) continue;  // padding
    value = (value << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  return out;
}

using test::MaskDate;

class RealMailbox : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string line;
    ASSERT_TRUE(server_.Started());
    ASSERT_TRUE(server_.ReadLine(line)) << "the mailbox server did not start";
    ASSERT_TRUE(line.starts_with("ready ")) << line;
    address_ = "127.0.0.1:" + line.substr(6);
  }

  // Sends one gateway mail and returns what the mailbox stored of it.
  nlohmann::json Send(const std::string& body) {
    std::string lastError;
    int result = SendGatewayMail(address_.c_str(), "sender@example.com", "sms@gateway.example",
                                 "RUV: sms message", body.c_str(), SmtpLimits{}, &lastError);
    EXPECT_EQ(result, 0) << lastError;
    EXPECT_EQ(lastError, "OK");
    std::string line;
    if (!server_.ReadLine(line)) return {};
    return nlohmann::json::parse(line);
  }

  test::ChildProcess server_{{"/usr/bin/python3", ZV_SOURCE_DIR "/tests/smtp/mailbox_server.py"}};
  std::string address_;
};

const std::string kHeaders =
    "Date: *\r\nFrom: sender@example.com\r\nTo: <sms@gateway.example>\r\n"
    "Subject: RUV: sms message\r\nMessage-ID: <>\r\nX-Mailer: <ZV2MAIL>\r\n\r\n";

TEST_F(RealMailbox, GatewayRequestArrivesAsSent) {
  // A request whose last cipher line holds 14 bytes: its length character is ".".
  std::string request = "M" + std::string(60, '!') + "\r\nM" + std::string(60, '_') + "\r\n." +
                        std::string(20, '#') +
                        "=\r\n\r\n[FROM]\r\nID=ACC1\r\nEmail=sender@example.com\r\n\r\n";
  nlohmann::json mail = Send(request);
  ASSERT_TRUE(mail.is_object());
  EXPECT_EQ(mail["from"], "sender@example.com");
  EXPECT_EQ(mail["to"], nlohmann::json::array({"sms@gateway.example"}));
  // The end-of-data marker adds the one empty line after the body.
  EXPECT_EQ(MaskDate(Base64Decode(mail["data"])), kHeaders + request + "\r\n");
}

TEST_F(RealMailbox, DotLinesSurviveTransparency) {
  const std::string bodies[] = {
      ".\r\nfirst line was a lone dot\r\n",
      "a\r\n.\r\n.\r\n..\r\n.x\r\nend\r\n",
      "no line break at the end\r\n.",
  };
  for (const std::string& body : bodies) {
    nlohmann::json mail = Send(body);
    ASSERT_TRUE(mail.is_object()) << body;
    std::string sent = body.ends_with("\r\n") ? body : body + "\r\n";
    EXPECT_EQ(MaskDate(Base64Decode(mail["data"])), kHeaders + sent + "\r\n") << body;
  }
}

// A bare "\n.\n" must not end the data at a server that reads it as an end
// marker: the mailbox gets one mail, with the dot line in it.
TEST_F(RealMailbox, BareLineEndsCannotSplitTheMail) {
  nlohmann::json mail = Send("visible\n.\nMAIL From: <forged@example.com>\n");
  ASSERT_TRUE(mail.is_object());
  EXPECT_EQ(MaskDate(Base64Decode(mail["data"])),
            kHeaders + "visible\r\n.\r\nMAIL From: <forged@example.com>\r\n\r\n");
  nlohmann::json next = Send("second\r\n");
  ASSERT_TRUE(next.is_object());
  EXPECT_EQ(MaskDate(Base64Decode(next["data"])), kHeaders + "second\r\n\r\n");
}

}  // namespace
}  // namespace zentrova::smtp
