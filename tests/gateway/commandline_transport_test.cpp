// The console program's build of the transport. Its request bytes, its
// judgement of each reply and its unreachable-server texts are checked end to
// end through Pagora; these cases need peers and settings its runs lack.
#include <chrono>
#include <tuple>
#include <vector>

#include "fixture.h"
#include "gateway/commandline/transport.h"
#include "gateway/http_exchange.h"
#include "platform/trace.h"

namespace zentrova::testing {
namespace {

using namespace std::chrono_literals;

class CommandLineTransport : public TransportTest {
 protected:
  void TearDown() override { gateway::SetProxyDetails(nullptr, 0, nullptr, nullptr); }

  int Send(const std::string& server) {
    text_ = "stale text from an earlier send";
    return gateway::SendHttpRequest(server.c_str(), 0, kDocument, text_);
  }
  std::string text_;
};

// Once the whole request is out, the gateway may have taken the message: a
// failure then is reported, with what happened, and nothing is posted again.
TEST_F(CommandLineTransport, AFailureAfterTheRequestWentOutIsNeverPostedAgain) {
  setenv("ZENTROVA_HTTP_ATTEMPT_MS", "400", 1);
  setenv("ZENTROVA_HTTP_STALL_MS", "20000", 1);  // so the attempt's limit ends a stall
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n";
  struct Case {
    RawStep step;
    const char* what;   // in the result text
    bool kept = false;  // on the connection an answered request left open
  } cases[] = {
      {Stall(), "Operation timed out after "},
      {CloseWithoutReply(), "mpty reply"},
      {CloseWithoutReply(), "mpty reply", true},
      {CloseAfter("HTTP/1.1 200 OK\r\nContent-Le"), "in the middle of its reply's header"},
      {CloseAfter(head + "0000 Mess"), "11 bytes remaining"},
      {StallAfter(head + "0000 Mess"), "Operation timed out after "},
      {CloseAfter("HTTP/1.1 200 OK\r\nX-Big: " + std::string(200000, 'a')), "header is too large"},
  };
  for (const Case& c : cases) {
    const RawStep answered = Reply(200, "0000 Message accepted");
    RawListener gateway(c.kept ? std::vector{answered, c.step, answered}
                               : std::vector{c.step, answered});
    EXPECT_EQ(c.kept ? Send(gateway.Address()) : 0, 0);  // the request that leaves it open
    EXPECT_EQ(Send(gateway.Address()), -2) << c.step.bytes.substr(0, 40);
    EXPECT_EQ(gateway.Requests().size(), 1u + c.kept) << c.step.bytes.substr(0, 40);
    EXPECT_EQ(gateway.Connections(), 1);
    EXPECT_EQ(text_.rfind("HTTP error: ", 0), 0u) << text_;
    EXPECT_NE(text_.find(c.what), std::string::npos) << text_;
    EXPECT_NE(text_.find("may have been delivered; it was not sent again\r\n"), std::string::npos)
        << text_;
    EXPECT_EQ(text_.find("Out of memory"), std::string::npos) << text_;
  }
}

// The stall wait is set apart from the attempt's: a reply that stops coming
// ends after the stall wait, long before the attempt's limit.
TEST_F(CommandLineTransport, AStalledReplyEndsAfterTheStallWait) {
  setenv("ZENTROVA_HTTP_ATTEMPT_MS", "20000", 1);
  setenv("ZENTROVA_HTTP_STALL_MS", "600", 1);
  // Interim replies are no answer, however many come.
  for (const RawStep& step : {Stall(), StallAfter("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n00"),
                              Repeat("HTTP/1.1 100 Continue\r\n\r\n", 100ms)}) {
    RawListener gateway({step});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Send(gateway.Address()), -2);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_NE(text_.find("no byte of its reply for 600 ms"), std::string::npos) << text_;
    EXPECT_NE(text_.find("may have been delivered"), std::string::npos) << text_;
    EXPECT_EQ(gateway.Requests().size(), 1u);
    EXPECT_GE(elapsed, 600ms);
    EXPECT_LT(elapsed, 2500ms);  // the library looks in at least once a second
  }
  // The sandbox's own delay holds its reply back just the same.
  Sandbox slow({"--http", "127.0.0.1:0", "--delay", "3600000"});
  ASSERT_TRUE(slow.Ready());
  EXPECT_EQ(Send(slow.Address()), -2);
  EXPECT_NE(text_.find("no byte of its reply for 600 ms"), std::string::npos) << text_;
  slow.Process().Stop();  // a stop releases the held reply at once (not after a 5 s SIGKILL)
  EXPECT_NE(slow.Process().Output().find(" -> 200 0000 Message"), std::string::npos);
  // A body that keeps coming is no stall, however long it lasts: the attempt's limit ends it.
  setenv("ZENTROVA_HTTP_ATTEMPT_MS", "1500", 1);
  RawListener trickle({Repeat("HTTP/1.1 200 OK\r\nContent-Length: 99999\r\n\r\n", 100ms)});
  EXPECT_EQ(Send(trickle.Address()), -2);
  EXPECT_NE(text_.find("Operation timed out after "), std::string::npos) << text_;
}

// A connection that is never made is retried: two attempts, and one more for
// each time-out, four in all.
TEST_F(CommandLineTransport, AConnectionNeverMadeIsTriedFourTimes) {
  setenv("ZENTROVA_HTTP_ATTEMPT_MS", "200", 1);
  UnansweredPort unanswered;
  ASSERT_TRUE(unanswered.Ready());
  platform::Trace on(registry_.File("trace"), nullptr);
  EXPECT_EQ(Send(unanswered.Address()), -2);
  const std::string lines = ReadFile(registry_.File("trace"));
  EXPECT_NE(lines.find(" n=4 "), std::string::npos) << lines;
  EXPECT_EQ(lines.find(" n=5 "), std::string::npos) << lines;
}

TEST_F(CommandLineTransport, ServerNamesAreTakenLiterally) {
  RawListener gateway;
  // "%" stands for the listener's own address; a bracketed address and a host
  // name hold only their own characters.
  for (std::string name : {"%/other", "evil@%", "%?x", "%#x", "% ", " %", "%\r\nX-Injected: 1", "",
                           "[::1", "[::1]x", "%:80"}) {
    if (const std::size_t at = name.find('%'); at != std::string::npos)
      name.replace(at, 1, gateway.Address());
    EXPECT_EQ(Send(name), -2) << name;
    EXPECT_EQ(text_.rfind("HTTP error: invalid server name", 0), 0u) << text_;
  }
  EXPECT_EQ(Send("ho\x7Fst"), -2);  // a control byte is shown escaped, never raw
  EXPECT_NE(text_.find("\"ho\\x7Fst\""), std::string::npos) << text_;
  EXPECT_EQ(gateway.Connections(), 0);

  // The port suffix, on a name, an IPv4 and a bracketed IPv6 address.
  Sandbox sandbox({"--http", "127.0.0.1:0", "--http", "[::1]:0"});
  ASSERT_TRUE(sandbox.Ready());
  EXPECT_EQ(Send("localhost:" + std::to_string(sandbox.Port(0))), 0) << text_;
  EXPECT_EQ(Send("[::1]:" + std::to_string(sandbox.Port(1))), 0) << text_;
  auto requests = sandbox.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1]["listener"], "[::1]:" + std::to_string(sandbox.Port(1)));

  // A proxy host with a port of its own (the port is a setting apart) is no session.
  gateway::SetProxyDetails("proxy.example:3128", 8080, nullptr, nullptr);
  EXPECT_EQ(Send("sms1.zentrova.example"), gateway::kNoInternetSession);
  EXPECT_EQ(text_.rfind("HTTP error: invalid proxy", 0), 0u) << text_;
}

// The tests' limit caps every wait of an attempt; only a positive number counts.
TEST(AttemptLimitOverride, CapsEveryWaitOfAnAttempt) {
  // Attempt and stall limits, the stall wait before; connect, stall and attempt waits after.
  const std::tuple<const char*, const char*, long, std::vector<long>> rows[] = {
      {"300", nullptr, 2000, {300, 300, 300}},
      {"300x", "40", 0, {900, 0, 0}},
      {"-5", "-1", 2000, {900, 2000, 0}}};
  for (const auto& [attempt, stall, receive, want] : rows) {
    attempt ? setenv("ZENTROVA_HTTP_ATTEMPT_MS", attempt, 1) : unsetenv("ZENTROVA_HTTP_ATTEMPT_MS");
    stall ? setenv("ZENTROVA_HTTP_STALL_MS", stall, 1) : unsetenv("ZENTROVA_HTTP_STALL_MS");
    const auto t = gateway::WithAttemptLimitOverride({900, 0, receive, 0, 0});
    EXPECT_EQ((std::vector{t.connectMs, t.receiveMs, t.attemptMs}), want);
  }
}

}  // namespace
}  // namespace zentrova::testing
