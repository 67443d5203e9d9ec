// A real gateway request mailed to sms-sandbox's mailbox: the mailbox journals
// the envelope, the header lines, the body and the document it deciphered; its
// scripted replies make the sender fail the way a refusing server would.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "gateway/automation/document.h"
#include "platform/socket.h"
#include "smtp/gateway_mail.h"
#include "support.h"
#include "tests/support/peers.h"

namespace zentrova::smtp {
namespace {

using std::chrono::milliseconds;

// Sends bytes to a sandbox listener; what it said until it hung up, or then "(silent)".
std::string Converse(std::uint16_t port, const std::string& bytes) {
  platform::TcpSocket socket;
  EXPECT_TRUE(socket.Connect("127.0.0.1", port, milliseconds(5000)).ok());
  EXPECT_TRUE(socket.SendAll(bytes, milliseconds(5000)).ok());
  std::string heard;
  char buffer[4096];
  platform::SocketStatus status;
  for (std::size_t n; (status = socket.Receive(buffer, sizeof buffer, milliseconds(2000), n)).ok();)
    heard.append(buffer, n);
  return heard + (status.code == platform::SocketResult::kTimedOut ? "(silent)" : "");
}

std::string ComposeRequest() {
  gateway::AutomationRequest request{
      {"ACC-7", "ops@example.com", "secret", "61"}, {{"0400000001", false}}, "Hello by mail"};
  identity::SequenceNumber sequence(9);
  std::string body;
  EXPECT_EQ(gateway::ComposeAutomationDocument(request, sequence, body),
            gateway::ComposeResult::kComposed);
  return body;
}

TEST(GatewayMailbox, JournalsEnvelopeHeadersAndDecipheredRequestThenRawDialogues) {
  testing::Sandbox sandbox({"--smtp", "127.0.0.1:0", "--http", "127.0.0.1:0", "--http",
                            "127.0.0.1:0", "--status", "407", "--smtp", "[::1]:0"});
  ASSERT_TRUE(sandbox.Ready()) << sandbox.Process().Output();
  std::string request = ComposeRequest(), lastError;
  EXPECT_TRUE(test::SendMail(sandbox.Address(), "sms@gateway.example", request, lastError));
  EXPECT_EQ(lastError, "OK");  // else the reason

  // The mailbox journals a mail before it accepts it.
  std::vector<nlohmann::json> entries = sandbox.Requests();
  ASSERT_EQ(entries.size(), 1u);
  const nlohmann::json& e = entries[0];
  // The header lines as the mailbox split them (their bytes: the dialogue tests), the message.
  EXPECT_EQ((nlohmann::json{e["kind"], e["delivered"], e["listener"], e["mail_from"], e["reply"],
                            e["dialect"], e["body"], e["rcpt_to"][0], e["headers"][2][1],
                            e["headers"].size(), e["fields"]["recipients"][0]["MSG"]}),
            (nlohmann::json{"smtp", true, sandbox.Address(), "sender@example.com", "250 OK logged",
                            "APICOM", request + "\r\n", "sms@gateway.example",
                            "<sms@gateway.example>", 6, nlohmann::json::array({"Hello by mail"})}));
  EXPECT_TRUE(test::IsMailDate(e["headers"][0][1].get<std::string>())) << e["headers"][0][1];

  // Misplaced, unknown, lowercase commands, a path without ">", the longest line; a mail cut off
  // by a line too long is none; a folded header line; what follows a mail; any HTTP request.
  EXPECT_EQ(Converse(sandbox.Port(),
                     "RCPT TO:<c@d>\r\nEHLO x\r\nMAIL FROM:<a>\r\nRCPT TO:<c@d>\r\n"
                     "mail from:<a@b\r\nDATA\r\nRSET\r\nRCPT TO:<c@d>\r\nDATA\r\nVRFY x\r\nNOOP " +
                         std::string(4096 * 64 - 6, 'x') + "\r\nquit\r\n"),
            "220 sms-sandbox gateway mailbox ready\r\n503 MAIL first\r\n250 sms-sandbox\r\n250 "
            "OK\r\n250 OK\r\n250 OK\r\n503 no valid recipients\r\n250 OK\r\n503 MAIL first\r\n"
            "503 MAIL first\r\n502 command not implemented\r\n250 OK\r\n221 bye\r\n");
  const std::string mail = "MAIL FROM:<a>\r\nRCPT TO:<b>\r\nDATA\r\n";
  EXPECT_TRUE(Converse(sandbox.Port(), mail + std::string(4096 * 65, 'x')).ends_with("<LF>\r\n"));
  EXPECT_TRUE(
      Converse(sandbox.Port(), mail + "S:\ta\r\n\tb\r\n\r\n..x\r\n.\r\nRCPT TO:<c>\r\nQUIT\r\n")
          .ends_with("250 OK logged\r\n503 MAIL first\r\n221 bye\r\n"));  // MAIL first again
  std::string requests;
  for (const char* line :
       {"GET /sms.dll", "PUT /", "DELETE /", "PATCH /", "OPTIONS /", "POST /x", "POST /sms.dll"})
    requests += std::string(line) + " HTTP/1.1\r\nHost: h\r\nContent-Length: 0\r\n\r\n";
  requests.insert(requests.size() - 2, "Connection: close\r\n");
  requests.insert(requests.find("/x") + 1, 185, 'x');  // a 201-character request line
  const std::string fds = "/proc/" + std::to_string(sandbox.Process().Pid()) + "/fd";
  const auto open = [&] { return std::distance(std::filesystem::directory_iterator(fds), {}); };
  const auto before = open();
  for (int i = 0; i < 4; ++i)  // connections that ended are let go while the listener serves on
    EXPECT_TRUE(Converse(sandbox.Port(1), requests).ends_with("\r\n\r\n0000 Message accepted"));
  EXPECT_LT(open(), before + 4);
  entries = sandbox.Requests();
  ASSERT_EQ(entries.size(), 33u);
  EXPECT_EQ(
      (nlohmann::json{entries[1]["helo"], entries[1]["mail_from"], entries[2]["delivered"],
                      entries[3]["headers"][0], entries[3]["body"], entries[4]["commands"],
                      entries[4]["mail_from"], entries[4]["rcpt_to"].size(),
                      entries[11]["connection"], entries.back()["connection"]}),
      (nlohmann::json{"x", "<a@b", false, {"S", "a\tb"}, ".x\r\n", {"RCPT TO:<c>", "QUIT"}, "", 0,
                      1, 4}));  // a delivered mail's envelope is not the next one's
  // A scripted 407 asks for the proxy's credentials as a proxy does.
  EXPECT_TRUE(Converse(sandbox.Port(2), requests.substr(requests.rfind("POST /sms.dll")))
                  .ends_with("\r\nProxy-Authenticate: Basic realm=\"sms-sandbox\"\r\n\r\n"));
  // Readable lines of the listeners, a mail, a dialogue (commands cut to 40), two requests.
  for (const std::string& line :
       {"http 127.0.0.1:" + std::to_string(sandbox.Port(2)) +
            "\nsms-sandbox: listening smtp [::1]:" + std::to_string(sandbox.Port(3)) + "\n",
        "smtp " + sandbox.Address() + " from <sender@example.com> to [\"sms@gateway.example\"] " +
            "APICOM from ACC-7 SN=9 to 0400000001 -> 250 OK logged\n",
        std::string(" no mail; said: RCPT TO:<c@d>; EHLO x; MAIL FROM:<a>; RCPT TO:<c@d>; mail ") +
            "from:<a@b; DATA; RSET; RCPT TO:<c@d>; DATA; VRFY x; NOOP " + std::string(35, 'x') +
            "...; quit; \n",
        " POST /" + std::string(186, 'x') + " HTTP/1.... -> 404 no such gateway page\\n\n",
        std::string("/sms.dll HTTP/1.1 -> 407\n")})
    EXPECT_TRUE(sandbox.Process().WaitFor(line, milliseconds(5000))) << line;
  for (std::size_t i = 5; i < 12; ++i) EXPECT_EQ(entries[i]["status"], i < 11 ? 404 : 200) << i;
  // One connection serves 100 requests of one reply length, the last one told so.
  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred += requests.substr(0, requests.find("PUT"));
  const std::string heard = Converse(sandbox.Port(1), hundred);
  EXPECT_EQ(heard.find("Keep-Alive: timeout=5, max=100"), heard.find("Keep-Alive: "));
  EXPECT_EQ(heard.rfind("HTTP/1.1 404 Not Found\r\nConnection: close"), 99 * heard.find("HTTP", 1));
  // A mail without an empty line is header lines alone.
  EXPECT_TRUE(Converse(sandbox.Port(), mail + "T: c\r\nU: d\r\n.\r\nQUIT\r\n")
                  .ends_with("250 OK logged\r\n221 bye\r\n"));
  entries = sandbox.Requests();
  const auto mailed = std::find_if(entries.rbegin(), entries.rend(),
                                   [](const nlohmann::json& e) { return e.contains("body"); });
  ASSERT_NE(mailed, entries.rend());
  EXPECT_EQ((*mailed)["headers"].dump() + (*mailed)["body"].dump(), R"([["T","c"],["U","d"]]"")");
}

// A scripted reply may be its code alone.
TEST(GatewayMailbox, ScriptedRefusalsFailTheSend) {
  testing::Sandbox sandbox({"--smtp", "127.0.0.1:0", "--smtp-reply", "rcpt=550", "--smtp",
                            "127.0.0.1:0", "--smtp-reply", "end=silent", "--smtp", "127.0.0.1:0",
                            "--smtp-reply", "helo=250-hi\\n250 there", "--smtp-reply", "mail=close",
                            "--smtp", "127.0.0.1:0", "--smtp-reply", "mail=550"});
  ASSERT_TRUE(sandbox.Ready()) << sandbox.Process().Output();
  std::string request = ComposeRequest(), lastError;

  for (const auto& [listener, limits, error] :  // the refused recipient: no DATA
       {std::tuple{0, SmtpLimits{}, "550:SMTP server error"},
        {1, SmtpLimits{.dataEnd = milliseconds(300)}, "SMTP server did not reply within 300 ms"},
        {2, SmtpLimits{}, "SMTP server closed the connection"}}) {
    EXPECT_FALSE(test::SendMail(sandbox.Address(listener), "sms@gateway.example", request,
                                lastError, limits));
    EXPECT_EQ(lastError, error);
  }

  std::vector<nlohmann::json> entries = sandbox.Requests();
  ASSERT_EQ(entries.size(), 3u);
  entries[0]["commands"].erase(0);  // HELO with this host's name; a mail's whole data but no reply
  const nlohmann::json said = {"MAIL From: <sender@example.com>", "RCPT TO: <sms@gateway.example>",
                               "QUIT"};
  EXPECT_EQ(
      (nlohmann::json{entries[0]["delivered"], entries[0]["commands"], entries[1]["delivered"],
                      entries[1]["reply"], entries[1]["dialect"], entries[2]["commands"].size()}),
      (nlohmann::json{false, said, true, "(silent)", "APICOM", 2}));
  EXPECT_TRUE(Converse(sandbox.Port(0), "MAIL FROM:<a>\r\nRCPT TO:<b>\r\nDATA\r\nQUIT\r\n")
                  .ends_with("550\r\n503 no valid recipients\r\n221 bye\r\n"));  // b is not kept
  EXPECT_EQ(Converse(sandbox.Port(3), "MAIL FROM:<a>\r\nRCPT TO:<b>\r\nQUIT\r\n"),
            "220 sms-sandbox gateway mailbox ready\r\n550\r\n503 MAIL first\r\n221 bye\r\n");
  Converse(sandbox.Port(0), "QUIT\r\n");  // a client that says one word and goes is heard too
  EXPECT_EQ(sandbox.Requests().back()["commands"], nlohmann::json::array({"QUIT"}));
}

}  // namespace
}  // namespace zentrova::smtp
