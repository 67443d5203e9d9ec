// The SMTP dialogue against scripted servers: one server per conversation
// shape, and the client's side of it compared byte for byte.
#include "smtp/session.h"

#include <gtest/gtest.h>

#include "platform/trace.h"
#include "smtp/gateway_mail.h"
#include "smtp/helo_name.h"
#include "support.h"
#include "tests/support/peers.h"

namespace zentrova::smtp {
namespace {

using test::FixHostNames;
using test::MailHeaders;
using test::MaskDate;
using testing::ScriptedDialogue;
using Steps = std::vector<ScriptedDialogue::Step>;
using std::chrono::milliseconds;
using namespace std::string_literals;

const auto Say = ScriptedDialogue::Say;
const auto Hear = ScriptedDialogue::Hear;
const auto HearData = ScriptedDialogue::HearData;
const auto HangUp = ScriptedDialogue::HangUp;

Steps operator+(Steps a, const Steps& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Steps kGreetAndHello = {Say("220 fake.test ready\r\n"), Hear(), Say("250 fake.test\r\n")};
const Steps kQuit = {Hear(), Say("221 bye\r\n")};

const std::string kHelo = "HELO client.test\r\n";
const std::string kMailFrom = "MAIL From: <sender@example.com>\r\n";
const std::string kRcpt = "RCPT TO: <sms@gateway.example>\r\n";
const std::string kQuitLine = "QUIT\r\n";

OutgoingMail GatewayMail(std::vector<std::string> recipients = {"sms@gateway.example"}) {
  OutgoingMail mail;
  mail.from = "sender@example.com";
  mail.subject = "RUV: sms message";
  mail.body = "line one\r\nline two";
  for (const std::string& r : recipients) mail.AddRecipient(r, "");
  return mail;
}

// Sessions in these tests never wait long: a fault shows as a failed step, not a hung suite.
SmtpLimits TestLimits(milliseconds each = milliseconds(5000)) {
  return {each, each, each, each, each, each};
}

std::unique_ptr<SmtpSession> SessionFor(const ScriptedDialogue& server,
                                        const SmtpLimits& limits = TestLimits()) {
  auto session = std::make_unique<SmtpSession>("127.0.0.1", server.Port());
  session->SetLimits(limits);
  FixHostNames("client.test");
  return session;
}

TEST(SmtpDialogue, ClosedSessionRefusesMailAndDestructionOfOpenOneSaysQuit) {
  SmtpSession closed("127.0.0.1", 25);
  OutgoingMail mail = GatewayMail();
  EXPECT_TRUE(!closed.Deliver(mail) && closed.LastError() == "Must be connected" && closed.Close());
  ScriptedDialogue server(kGreetAndHello + kQuit);
  ASSERT_TRUE(server.Listening());
  {
    auto session = SessionFor(server);
    ASSERT_TRUE(session->Open());
  }
  EXPECT_EQ(server.Transcript(), kHelo + kQuitLine);
}

const std::string kData = "DATA\r\n";
const std::string kMail =
    MailHeaders("<sms@gateway.example>") + "line one\r\nline two\r\n\r\n.\r\n";
const Steps kSender = {Hear(), Say("250 ok\r\n")};
const Steps kReady = {Hear(), Say("250 ok\r\n"), Hear(), Say("354 go\r\n"), HearData()};
const char* const kTo = "sms@gateway.example";
const Steps kHello = {Say("220 ready\r\n"), Hear()};

// Each failing or unusual reply of the dialogue: the step's result, the text
// it leaves, whether the session stays connected, and what the client said.
struct Shape {
  const char* name;
  Steps script;
  bool opened, delivered;
  std::string error;
  bool connected;  // after the last step before Close
  std::string transcript;
  std::vector<std::string> recipients = {kTo};
};

std::vector<Shape> Shapes() {
  std::string longGreeting = "220 " + std::string(2000, 'g') + "\r\n";
  Steps longHello = {Say(longGreeting), Hear()};
  // One reply of three long lines, likely to arrive in more than one receive.
  for (char c : {'a', 'b', 'c'}) longHello.push_back(Say("250-" + std::string(700, c) + "\r\n"));
  longHello.push_back(Say("250 last line\r\n"));
  const std::vector<std::string> two = {"n_-\\\"@gateway.example", kTo};
  const std::string toTwo = kHelo + kMailFrom + "RCPT TO: <n_-\\\"@gateway.example>\r\n" + kRcpt +
                            kData + MailHeaders("<n_-\\\"@gateway.example>,<sms@gateway.example>") +
                            "line one\r\nline two\r\n\r\n.\r\n" + kQuitLine;
  return {
      {"accepted", kGreetAndHello + kSender + kReady + Steps{Say("250 queued\r\n")} + kQuit, true,
       true, "OK", true, kHelo + kMailFrom + kRcpt + kData + kMail + kQuitLine},
      {"greeting 554", Steps{Say("554 no service here\r\n")}, false, false,
       "Server didn't respond.", false, ""},
      {"greeting never comes", Steps{HangUp()}, false, false, "Server didn't respond.", false, ""},
      {"HELO refused", kHello + Steps{Say("501 who are you\r\n")}, false, false,
       "501:SMTP server error", false, kHelo},
      // A code is three digits: a fourth is text.
      {"code of four digits", kHello + Steps{Say("5012 who are you\r\n")}, false, false,
       "501:SMTP server error", false, kHelo},
      {"reply without a code", kHello + Steps{Say("x50-hello there\r\n")}, false, false,
       "SMTP server sent a reply without a reply code", false, kHelo},
      {"MAIL From refused", kGreetAndHello + Steps{Hear(), Say("553 sender refused\r\n")} + kQuit,
       true, false, "553:SMTP server error", true, kHelo + kMailFrom + kQuitLine},
      {"first of two recipients refused",
       kGreetAndHello + kSender + Steps{Hear(), Say("550 no such user\r\n")} + kReady +
           Steps{Say("250 queued\r\n")} + kQuit,
       true, true, "550:SMTP server error", true, toTwo, two},
      // Nobody left to send to: no DATA, which a lenient server would take.
      {"only recipient refused",
       kGreetAndHello + kSender + Steps{Hear(), Say("550 no such user\r\n")} + kQuit, true, false,
       "550:SMTP server error", true, kHelo + kMailFrom + kRcpt + kQuitLine},
      {"DATA answered 451",
       kGreetAndHello + kSender + Steps{Hear(), Say("250 ok\r\n"), Hear(), Say("451 later\r\n")} +
           kQuit,
       true, false, "451:SMTP server not ready for data", true,
       kHelo + kMailFrom + kRcpt + kData + kQuitLine},
      {"end of data refused",
       kGreetAndHello + kSender + kReady + Steps{Say("554 rejected as spam\r\n")} + kQuit, true,
       false, "554:SMTP server error", true, kHelo + kMailFrom + kRcpt + kData + kMail + kQuitLine},
      {"server closes mid-dialogue", kGreetAndHello + Steps{Hear(), HangUp()}, true, false,
       "SMTP server closed the connection", false, kHelo + kMailFrom},
      {"server closes within a reply", kHello + Steps{Say("250-more follows\r\n"), HangUp()}, false,
       false, "SMTP server closed the connection in the middle of a reply", false, kHelo},
      // Each step reads its own reply whole: the rest of a long one is not
      // taken for the next step's reply, so the refusal after it is seen.
      {"replies longer than one receive",
       longHello + Steps{Hear(), Say("550 sender refused\r\n")} + kQuit, true, false,
       "550:SMTP server error", true, kHelo + kMailFrom + kQuitLine},
      // Only "ddd-" continues a reply: a line without three digits before its "-" ends it.
      {"multi-line replies in one receive",
       Steps{Say("220-fake.test\r\n220-more about us\r\n2x0-ready\r\n"), Hear(),
             Say("250-fake.test\r\n250-SIZE 1000\r\n25x-HELP\r\n"), Hear(),
             Say("559-no\r\n559 really not\r\n")} +
           kQuit,
       true, false, "559:SMTP server error", true, kHelo + kMailFrom + kQuitLine},
  };
}

TEST(SmtpDialogue, EveryReplyShape) {
  testing::TempDir dir;  // the trace keeps a reply's first 200 bytes and marks the cut
  platform::Trace trace(dir.File("trace.log"), [](const std::string&) {});
  for (const Shape& shape : Shapes()) {
    SCOPED_TRACE(shape.name);
    ScriptedDialogue server(shape.script);
    auto session = SessionFor(server);
    OutgoingMail mail = GatewayMail(shape.recipients);
    EXPECT_EQ(session->Open(), shape.opened);
    EXPECT_TRUE(!shape.opened || session->Open());  // already connected: nothing more is said
    EXPECT_EQ(shape.opened && session->Deliver(mail), shape.delivered);
    EXPECT_EQ(session->LastError(), shape.error);
    EXPECT_EQ(session->IsConnected(), shape.connected);
    EXPECT_TRUE(session->Close()) << session->LastError();
    EXPECT_TRUE(session->Close() && !session->IsConnected());  // already closed: nothing is said
    EXPECT_EQ(mail.body, shape.delivered ? "line one\r\nline two\r\n" : mail.body);
    EXPECT_EQ(MaskDate(server.Transcript()), shape.transcript);
  }
  const std::string cut = " reply=220 text=\"220 " + std::string(196, 'g') + "\"... ms=";
  EXPECT_NE(testing::ReadFile(dir.File("trace.log")).find(cut), std::string::npos);
}

// Through the gateway wrapper, with the server's port given as a suffix: the
// mail was accepted before QUIT, so an odd QUIT reply does not fail the send.
TEST(SmtpDialogue, QuitAnsweredOtherThan221StillCountsAsSent) {
  ScriptedDialogue server(kGreetAndHello + kSender + kReady +
                          Steps{Say("250 queued\r\n"), Hear(), Say("500 what\r\n")});
  std::string lastError;
  EXPECT_TRUE(test::SendMail("127.0.0.1:" + std::to_string(server.Port()), "sms@gateway.example",
                             "line one\r\nline two", lastError, TestLimits()));
  EXPECT_EQ(lastError, "500:SMTP server didn't terminate session");
  std::string transcript = server.Transcript();
  EXPECT_TRUE(transcript.starts_with("HELO ")) << transcript;
  EXPECT_TRUE(transcript.ends_with("\r\n.\r\nQUIT\r\n")) << transcript;
}

TEST(SmtpDialogue, ServerThatNeverAnswersIsGivenUpOnInTime) {
  using Clock = std::chrono::steady_clock;
  ScriptedDialogue silent({});
  auto session = SessionFor(silent, TestLimits(milliseconds(300)));
  auto start = Clock::now();
  EXPECT_FALSE(session->Open());
  auto waited = Clock::now() - start;
  EXPECT_TRUE(waited >= milliseconds(300) && waited < milliseconds(3000));
  EXPECT_TRUE(session->LastError() == "Server didn't respond." && silent.Transcript().empty());

  // Silence after the data: the longest wait of a delivery, bounded too.
  ScriptedDialogue stalled(kGreetAndHello + kSender + kReady);
  SmtpLimits limits = TestLimits();
  limits.dataEnd = milliseconds(1000);  // whole seconds are shown as such
  auto sender = SessionFor(stalled, limits);
  OutgoingMail mail = GatewayMail();
  ASSERT_TRUE(sender->Open());
  start = Clock::now();
  EXPECT_FALSE(sender->Deliver(mail));
  waited = Clock::now() - start;
  EXPECT_LT(waited, milliseconds(3000));
  EXPECT_EQ(sender->LastError(), "SMTP server did not reply within 1 second");
  EXPECT_TRUE(!sender->IsConnected() && sender->Close());
  EXPECT_TRUE(stalled.Transcript().ends_with("\r\n.\r\n"));
}

TEST(SmtpDialogue, ConnectionFailures) {
  testing::DeadPort unused;
  testing::UnansweredPort full;  // a port beyond 16 bits must not wrap round to it
  ASSERT_TRUE(full.Ready());
  for (auto [host, port] : {std::pair{"127.0.0.1", unused.port()},
                            {"no-such-host.invalid", 25},
                            {"127.0.0.1", full.Port() + 65536}}) {
    SmtpSession session(host, port);
    session.SetLimits(TestLimits(milliseconds(300)));
    EXPECT_TRUE(!session.Open() && session.LastError() == "Unable to connect to server") << host;
  }

  // Every address of a name is tried in turn: the first refuses, the second answers. What the
  // resolver gives are addresses: a name among them is not looked up again.
  ScriptedDialogue second(kGreetAndHello + kQuit);
  platform::FixNameResolver(
      [](const std::string& host, std::vector<std::string>& addresses, std::string&) {
        addresses = {host == "mail.local" ? "localhost" : "127.0.0.2", "127.0.0.1"};
        return host != "mail.other";
      });
  SmtpSession named("mail.test", second.Port()), refused("mail.other", second.Port());
  named.SetLimits(TestLimits()), refused.SetLimits(TestLimits());
  const bool opened = !refused.Open() && named.Open();  // a name the resolver refuses fails
  std::string why;
  for (const char* name : {"mail.other", "mail.local"})
    why += platform::TcpSocket().Connect(name, unused.port(), milliseconds(300)).message + "\n";
  platform::FixNameResolver(nullptr);
  EXPECT_TRUE(opened && named.Close() && why.starts_with("cannot resolve mail.other") &&
              why.find("\ncannot resolve mail.local: ") != std::string::npos)
      << why;

  SmtpSession hanging("127.0.0.1", full.Port());
  hanging.SetLimits(TestLimits(milliseconds(300)));
  EXPECT_FALSE(hanging.Open());
  EXPECT_EQ(hanging.LastError(), "Unable to connect to server: no answer within 300 ms");
}

// HELO carries the host name when it is fully qualified, else the resolver's
// canonical name for it, else the literal of the connection's own address.
TEST(SmtpDialogue, HeloCarriesAFullyQualifiedNameOrAnAddressLiteral) {
  // The host's name, its canonical name, whether it could be read; where the
  // server listens, the HELO it hears, and whether the resolver was asked.
  const std::tuple<const char*, const char*, bool, const char*, const char*, bool> cases[] = {
      {"vm", "vm.zentrova.test", true, "127.0.0.1", "vm.zentrova.test", true},
      {"vm", "vm", true, "127.0.0.1", "[127.0.0.1]", true},
      {"mail_relay.example", "", true, "127.0.0.1", "[127.0.0.1]", true},
      {"vm.zentrova.test", "", false, "127.0.0.1", "[127.0.0.1]", false},  // unreadable: unused
      {"vm.zentrova.test", "vm.other.test", true, "127.0.0.1", "vm.zentrova.test", false},
      {"bad name\r\nRSET", "", true, "::1", "[IPv6:::1]", true},
  };
  for (const auto& [host, canonical, readable, listen, helo, resolved] : cases) {
    SCOPED_TRACE(helo);
    ScriptedDialogue server(kHello + Steps{Say("250 hi\r\n")}, listen);
    if (!server.Listening()) continue;  // no IPv6 loopback here
    SmtpSession session(listen, server.Port());
    session.SetLimits(TestLimits());
    FixHostNames(host, canonical, readable);
    test::g_namesAsked = 0;
    EXPECT_TRUE(session.Open());
    EXPECT_EQ(test::g_namesAsked, resolved ? 2 : 1);
    session.SetLimits(TestLimits(milliseconds(1)));  // no QUIT reply is scripted
    session.Close();
    EXPECT_EQ(server.Transcript(), std::string("HELO ") + helo + "\r\nQUIT\r\n");
  }
}

TEST(HeloName, FullyQualifiedDomainsOnly) {
  const std::string label63(63, 'a'),
      name253 = label63 + '.' + label63 + '.' + label63 + '.' + label63.substr(2);
  for (const std::string& name : {"vm.zentrova.test"s, "Mail-1.example"s, "1.example"s,
                                  label63 + ".test", "az09.AZ.test"s, name253})
    EXPECT_TRUE(IsFullyQualifiedDomain(name)) << name;
  for (const std::string& name :
       {"vm"s, "host_1.example"s, "-a.example"s, "a-.example"s, "a..example"s, "a.example."s,
        "192.0.2.9"s, label63 + "a.test", ""s, "a~b.test"s, "a@b.test"s, "a[b.test"s, "a`b.test"s,
        "a/b.test"s, "a:b.test"s, "host.109"s, name253 + 'b'})
    EXPECT_FALSE(IsFullyQualifiedDomain(name)) << name;
  // Unfixed, the host name is the system's own, as uname prints it.
  platform::FixLocalHostNames(nullptr);  // an earlier case in this process may have fixed one
  std::string host;
  char expected[256] = {};
  std::FILE* uname = popen("uname -n", "r");
  ASSERT_TRUE(uname && std::fgets(expected, sizeof expected, uname) &&
              platform::LocalHostName(host));
  pclose(uname);
  EXPECT_EQ(host + "\n", expected);
}

// Nothing of a mail is sent unless all of it can be: no recipients, or a line
// break that would let an address, a name or the subject add commands of its own.
TEST(SmtpDialogue, UnsendableMailIsRefusedBeforeAnyCommand) {
  ScriptedDialogue server(kGreetAndHello + kQuit);
  auto session = SessionFor(server);
  ASSERT_TRUE(session->Open());

  OutgoingMail empty = GatewayMail({});
  EXPECT_TRUE(!session->Deliver(empty) && session->LastError() == "No Recipients");

  // A second recipient's name goes into the To: header as it is, its address into RCPT TO.
  std::tuple<std::string OutgoingMail::*, const char*, const char*, const char*> smugglers[] = {
      {&OutgoingMail::from, "a@example.com>\r\nRCPT TO: <v@e.com", "", ""},
      {&OutgoingMail::subject, "hi\nBcc: victim@example.com", "", ""},
      {&OutgoingMail::messageId, "id>\r\nBcc: victim@example.com", "", ""},
      {&OutgoingMail::body, "", "b@example.com", "Bee\r\nBcc: victim@example.com"},
      {&OutgoingMail::body, "", "b@example.com>\rRCPT TO: <v@e.com", ""}};
  for (const auto& [field, text, address, name] : smugglers) {
    OutgoingMail smuggler = GatewayMail();
    smuggler.*field = text;
    if (*address) smuggler.AddRecipient(address, name);
    EXPECT_FALSE(session->Deliver(smuggler)) << text << address;
    EXPECT_EQ(session->LastError(), "Mail addresses and subject must not contain line breaks");
  }
  std::string address, name;  // of two recipients, none before the first or past the last
  for (int i : {-1, 2}) EXPECT_FALSE(GatewayMail({kTo, kTo}).GetRecipient(i, address, name));

  EXPECT_TRUE(session->IsConnected() && session->Close());
  EXPECT_EQ(server.Transcript(), kHelo + kQuitLine);
}

}  // namespace
}  // namespace zentrova::smtp
