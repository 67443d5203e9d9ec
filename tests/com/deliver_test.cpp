// PagoraMessage end to end, driven the way a script drives it (zcom call, a
// fresh process per script) against sms-sandbox, dead loopback ports and a
// real mail server (aiosmtpd): what reaches the gateway, which route is taken,
// and the ResponseText and HRESULT the script sees.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "tests/com/support.h"
#include "tests/support/real_peers.h"

namespace {

using nlohmann::json;
using zentrova::testing::DeadPort;
using zentrova::testing::ProcessResult;
using zentrova::testing::Sandbox;
using zentrova::testing::TraceSteps;

const char kSettingsKey[] = "HKCU\\Software\\Zentrova\\SMS\\3.0\\Settings";
const char kRefused[] = "PagoraMessage -> 0x00000001\n";  // S_FALSE; S_OK prints nothing
const char kNotByWeb[] = "Error: Could not sent via the web (HTTP)";

class DeliverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProcessResult r = Zcom({"regsvr", "/s", ZV_SERVER_PATH});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }

  // The zone and locale are fixed so that the sender section's values are
  // known: Sydney's rule is 600 minutes east with daylight saving, and en-AU
  // is Windows locale 3081.
  ProcessResult Zcom(std::vector<std::string> args, zentrova::testing::Environment env = {}) {
    args.insert(args.begin(), ZV_ZCOM_PATH);
    args.insert(args.begin(), wrapper_.begin(), wrapper_.end());
    env.insert({{"ZENTROVA_REGISTRY", registry_.Path()},
                {"TZ", "AEST-10AEDT,M10.1.0,M4.1.0/3"},
                {"LC_ALL", "en_AU.UTF-8"},
                {"ZENTROVA_CODEPAGE", ""},
                {"ZENTROVA_TRACE", ""}});
    ProcessResult r = zentrova::testing::RunProcess(args, env);
    EXPECT_FALSE(r.timedOut);
    return r;
  }

  // One script: a complete account, then the steps.
  ProcessResult Script(std::vector<std::string> steps, zentrova::testing::Environment env = {}) {
    steps.insert(steps.begin(), {"call", "ZentrovaCOM.SMSInterface", "Email=\"me@example.com\"",
                                 "AccountID=123456", "Password=secret"});
    return Zcom(steps, env);
  }

  void Set(const char* value, const std::string& data) {
    ProcessResult r = Zcom({"reg", "add", kSettingsKey, "/v", value, "/d", data, "/f"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  void Servers(const std::string& primary, const std::string& secondary) {
    Set("HTTP1", primary);
    Set("HTTP2", secondary);
  }

  // Sends to one number and checks what the script sees: S_OK with an empty
  // ResponseText, or S_FALSE with `text`.
  void ExpectOutcome(const std::vector<std::string>& settings, bool delivered,
                     const std::string& text, zentrova::testing::Environment env = {}) {
    std::vector<std::string> steps = settings;
    steps.insert(steps.end(), {"PagoraMessage(\"0412345678\", \"Hi\")", "ResponseText"});
    ProcessResult r = Script(steps, env);
    EXPECT_EQ((std::tuple{r.out, r.err, r.exitCode}),
              (std::tuple{text + "\n", std::string(delivered ? "" : kRefused), delivered ? 0 : 1}));
  }

  zentrova::testing::ScratchRegistry registry_;
  std::vector<std::string> wrapper_;  // runs zcom through this command
};

std::vector<json> RequestsTo(const Sandbox& sandbox, std::size_t listener) {
  std::vector<json> requests;
  for (json& request : sandbox.Requests())
    if (request["listener"] == sandbox.Address(listener)) requests.push_back(std::move(request));
  return requests;
}

TEST_F(DeliverTest, HttpDeliveryCarriesTheDocumentForEveryRecipientForm) {
  Sandbox gateway({"--http", "127.0.0.1:0"});
  ASSERT_TRUE(gateway.Ready());
  DeadPort secondary;
  Servers(gateway.Address(), secondary.Address());
  // The machine's zone, as zcom sees it, is New York's (a private mount over
  // /etc/localtime), while TZ says Sydney.
  const char* const newYork = "/usr/share/zoneinfo/America/New_York";
  const char* const mount = "mount --bind \"$0\" /etc/localtime && exec \"$@\"";
  wrapper_ = {"/usr/bin/unshare", "-Urm", "sh", "-c", mount, newYork};
  if (Zcom({"--version"}).exitCode != 0) GTEST_SKIP() << "no private mount namespace here";

  // Each argument and the numbers its request carries (none: "Error: No recipients").
  const std::pair<const char*, std::vector<std::string>> forms[] = {
      {R"("0412345678,0498765432;0411111111")", {"0412345678", "0498765432", "0411111111"}},
      {R"(&"0412345678;0498765432")", {}},  // by reference: one entry of 20 digits
      {"412345678", {"412345678"}},
      {R"(["0412345678", "0498765432"])", {"0412345678", "0498765432"}},
      {R"(["0412345678", 412345679, empty, null])", {"0412345678", "412345679"}},
      {R"([1: "0411111111", "0422222222", "0433333333"])",
       {"0411111111", "0422222222", "0433333333"}},
      {R"(["0412345678,0498765432", "0411111111"])", {"0411111111"}},
      {R"(&&&["0412345678", 412345679])", {"0412345678", "412345679"}},
      {R"(&&"0412345678")", {"0412345678"}},
      {"[&&412345678]", {"412345678"}},  // a reference to a long by reference
      {R"([["0412345678"], "0498765432"])", {"0498765432"}},
      {"[]", {}},
      {"empty", {}},
  };
  std::vector<std::string> steps = {"CountryCode=61",
                                    "PagoraMessage(\"0412345678;0498765432\", \"Hello\nworld\")"};
  std::string expectedOut, expectedErr;
  std::vector<std::vector<std::string>> expectedRequests = {{"0412345678", "0498765432"}};
  for (const auto& [argument, numbers] : forms) {
    steps.insert(steps.end(),
                 {std::string("PagoraMessage(") + argument + ", \"Hi\")", "ResponseText"});
    expectedOut += numbers.empty() ? "Error: No recipients\n" : "\n";
    expectedErr += numbers.empty() ? kRefused : "";
    if (!numbers.empty()) expectedRequests.push_back(numbers);
  }
  ProcessResult r = Script(steps);
  EXPECT_EQ(std::tie(r.out, r.err), std::tie(expectedOut, expectedErr));
  std::vector<json> requests = gateway.Requests();
  std::vector<std::vector<std::string>> received;
  for (const json& request : requests)
    for (auto& numbers = received.emplace_back(); const json& to : request["fields"]["recipients"])
      numbers.push_back(to["NUMBER"]);
  ASSERT_EQ(received, expectedRequests);

  const json& first = requests[0];
  EXPECT_EQ(first["request_line"], "POST /sms.dll?private&type=0 HTTP/1.1");
  ASSERT_EQ(first["dialect"], "APICOM") << first.dump();
  const json& fields = first["fields"];
  auto section = [](int n, const std::string& number) {
    return "\r\n[" + std::to_string(n) + "]\r\nNUMBER=" + number + "\r\nName=" + number +
           "\r\nAddress=" + number + "\r\nSmsCount=1\nMSG1=Hello\nMSG2=world\n";
  };
  // The zone key comes from the machine's own zone file, not from TZ: New
  // York's as zdump shows it (back on the 1st Sunday of November, forward on
  // the 2nd of March).
  EXPECT_EQ(
      fields["plain"],
      "\r\n[SENDER]\r\nTimeZoneKey=+300011010003020"
      "\r\nMobile=\r\nPREFIX=61\r\nPW=secret\r\nTZ=600\r\nDLS=1\r\nAC=123456\r\nSK=\r\nSN=0\r\n"
      "LCID=3081\r\nPRODUCT=APICOM\r\nMSGTYPE=N\r\n\r\nReply=0\r\n\r\n" +
          section(1, "0412345678") + section(2, "0498765432"));
  EXPECT_EQ(fields["FROM"], json({{"ID", "123456"}, {"Email", "me@example.com"}}));
  const std::string body = first["body"];
  EXPECT_TRUE(body.ends_with("=\r\n\r\n[FROM]\r\nID=123456\r\nEmail=me@example.com\r\n\r\n"))
      << body;
  // A call that found no number still took its sequence number.
  EXPECT_EQ(requests[2]["fields"]["SENDER"]["SN"], "3");
}

TEST_F(DeliverTest, FailoverAndTheGatewaysAnswers) {
  Sandbox gateway({"--http", "127.0.0.1:0", "--status", "500",  // 0
                   "--http", "127.0.0.1:0",                     // 1 accepts
                   "--http", "127.0.0.1:0", "--reply",  "0042 Account suspended\rDone\x1B[K",
                   "--http", "127.0.0.1:0", "--reply",  "abc",
                   "--http", "127.0.0.1:0", "--reply",  "0099 Try later",
                   "--http", "127.0.0.1:0", "--status", "503"});  // 5
  ASSERT_TRUE(gateway.Ready());
  DeadPort dead;
  const std::string refused = dead.Address();
  // The servers, delivered, the text, and whether the secondary was asked.
  const std::tuple<std::string, std::string, bool, std::string, bool> cases[] = {
      {gateway.Address(0), gateway.Address(1), true, "", true},
      {refused, gateway.Address(1), true, "", true},
      // The gateway's own refusal is final, and shown as it came.
      // Its control bytes are shown, never acted on.
      {gateway.Address(2), gateway.Address(1), false, "0042 Account suspended\\rDone\\x1B[K",
       false},
      {gateway.Address(3), gateway.Address(3), false, "", true},
      // 99 is not shown as the transport's "Server not responding".
      {gateway.Address(4), gateway.Address(1), false, kNotByWeb, false},
      {gateway.Address(0), gateway.Address(0), false, "HTTP request error 500\r\n", true},
      // A gateway's own 503 (no proxy in front) is its answer, not an outage.
      {gateway.Address(5), gateway.Address(5), false, "HTTP request error 503\r\n", true},
      {refused, refused, false, kNotByWeb, true},
  };
  zentrova::testing::TempDir dir;
  for (const auto& [primary, secondary, delivered, text, secondaryAsked] : cases) {
    SCOPED_TRACE(primary + " then " + secondary);
    Servers(primary, secondary);
    const std::size_t before = RequestsTo(gateway, 1).size();
    const std::string trace = dir.File("trace" + primary + secondary);
    ExpectOutcome({}, delivered, text, {{"ZENTROVA_TRACE", trace}});
    // Every server asked has a first attempt in the trace.
    int asked = 0;
    for (const std::string& step : TraceSteps(zentrova::testing::ReadFile(trace)))
      asked += step.starts_with("http attempt ") && step.find(" n=1 ") != std::string::npos;
    EXPECT_EQ(asked, secondaryAsked ? 2 : 1);
    const bool secondaryIsOne = secondary == gateway.Address(1);  // no primary is
    EXPECT_EQ(RequestsTo(gateway, 1).size(), before + (secondaryIsOne && secondaryAsked));
  }
  // A reply of three bytes on both servers: each was asked.
  EXPECT_GE(RequestsTo(gateway, 3).size(), 2u);
}

// The request text a mail carries: after the header block, without the empty
// line that ends every mail.
std::string MailBody(const json& mail) {
  const std::string data = mail["data"];
  const std::size_t start = data.find("\r\n\r\n");
  if (start == std::string::npos || !data.ends_with("\r\n")) return "(no body)";
  return data.substr(start + 4, data.size() - start - 6);
}

TEST_F(DeliverTest, DeliveryByMailAndAsTheFallback) {
  zentrova::testing::MailboxServer mailbox;
  ASSERT_FALSE(mailbox.Address().empty()) << "aiosmtpd did not start";
  Sandbox gateway({"--http", "127.0.0.1:0", "--reply", "0099 Try later"});
  ASSERT_TRUE(gateway.Ready());
  DeadPort deadHttp, deadSmtp;
  const std::string refused = deadHttp.Address();
  Set("DebugGateway", "gateway@test.example");
  const std::string server = "SMTPServer=" + mailbox.Address(), login = "SMTPLoginName=mailer";

  // None of these may send a mail: the first one stored must be the next one.
  Servers(refused, refused);
  ExpectOutcome({"DeliveryMethod=1", server, login}, false, kNotByWeb);
  Servers(gateway.Address(), refused);
  ExpectOutcome({"DeliveryMethod=2", server}, false, kNotByWeb);
  ExpectOutcome({"DeliveryMethod=2", login}, false, kNotByWeb);  // a fallback needs both
  Servers(refused, refused);
  ExpectOutcome({"DeliveryMethod=2", "SMTPServer=" + deadSmtp.Address(), login}, false,
                "Error: Could not sent via HTTP or SMTP");
  ExpectOutcome({"DeliveryMethod=0", "SMTPServer=" + deadSmtp.Address(), login}, false,
                "Error: Could not sent via SMTP");

  // Method 0 never asks the web server, whatever the proxy settings say.
  Servers(gateway.Address(), gateway.Address());
  const std::size_t asked = gateway.Requests().size();
  ExpectOutcome({"DeliveryMethod=0", server, login, "ProxyType=2", "ProxyAddress=nowhere.invalid"},
                true, "");
  EXPECT_EQ(gateway.Requests().size(), asked);
  json mail = mailbox.Mail(1);
  ASSERT_TRUE(mail.is_object());
  EXPECT_EQ(mail["from"], "me@example.com");
  EXPECT_EQ(mail["to"], json::array({"gateway@test.example"}));
  zentrova::testing::TempDir dir;
  zentrova::testing::WriteFile(dir.File("body"), MailBody(mail));
  ProcessResult plain =
      zentrova::testing::RunProcess({ZV_BINARY_DIR "/tools/sms-sandbox/sms-sandbox", "decode"}, {},
                                    std::chrono::seconds(30), dir.File("body"));
  EXPECT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_NE(plain.out.find("\r\n[1]\r\nNUMBER=0412345678\r\n"), std::string::npos) << plain.out;

  // Method 2 falls back on 99 with the very text the web server was offered...
  Servers(gateway.Address(), refused);
  ExpectOutcome({"DeliveryMethod=2", server, login}, true, "");
  mail = mailbox.Mail(2);
  ASSERT_TRUE(mail.is_object());
  std::vector<json> offered = gateway.Requests();
  ASSERT_FALSE(offered.empty());
  EXPECT_EQ(MailBody(mail), offered.back()["body"]);
  // ...and on a web server that cannot be reached.
  Servers(refused, refused);
  ExpectOutcome({"DeliveryMethod=2", server, login}, true, "");
  EXPECT_TRUE(mailbox.Mail(3).is_object());
  Set("DebugGateway", std::string(63, 'g'));  // a mailbox it cannot read ends the fallback
  ExpectOutcome({"DeliveryMethod=2", server, login}, false,  // each \ shown doubled
                "DebugGateway under HKEY_CURRENT_USER\\\\Software\\\\Zentrova\\\\SMS\\\\3.0\\\\"
                "Settings is 63 bytes long, over its limit of 62; shorten it");
}

// The trace named by the TraceFile setting follows a failed web send through
// a proxy, the failover and the mail that follows, without a secret; the
// environment variable wins over the setting, and a trace that cannot be
// written changes nothing.
TEST_F(DeliverTest, TheTraceFollowsEveryStepAndHoldsNoSecret) {
  zentrova::testing::MailboxServer mailbox;
  ASSERT_FALSE(mailbox.Address().empty()) << "aiosmtpd did not start";
  DeadPort proxy;
  zentrova::testing::TempDir dir;
  Set("DebugGateway", "gateway@test.example");
  Set("TraceFile", dir.File("setting.log"));
  Servers("gw1.example", "gw2.example");
  const std::vector<std::string> steps = {
      "DeliveryMethod=2",        "SMTPServer=" + mailbox.Address(),
      "SMTPLoginName=mailer",    "ProxyType=2",
      "ProxyAddress=127.0.0.1",  "ProxyPort=" + std::to_string(proxy.port()),
      "ProxyUserName=proxyuser", "ProxyPassword=proxysecret"};
  ExpectOutcome(steps, true, "");
  const json mail = mailbox.Mail(1);
  ASSERT_TRUE(mail.is_object());
  const std::string bytes = std::to_string(MailBody(mail).size());

  auto attempt = [&](const std::string& server, int n) {
    return "http attempt server=\"" + server + "\" proxy=\"" + proxy.Address() +
           "\" n=" + std::to_string(n) + " bytes=" + bytes + " status=0 reply=\"\" error=";
  };
  const std::vector<std::string> expected = {
      attempt("gw1.example", 1),
      attempt("gw1.example", 2),
      attempt("gw1.example", 3),
      "http failover from=\"gw1.example\" to=\"gw2.example\" result=-2",
      attempt("gw2.example", 1),
      attempt("gw2.example", 2),
      attempt("gw2.example", 3),
      "smtp fallback result=-2",
      "smtp connect server=\"" + mailbox.Address() + "\" reply=220",
      "smtp command=\"HELO ",
      "smtp command=\"MAIL From: <me@example.com>\" reply=250",
      "smtp command=\"RCPT TO: <gateway@test.example>\" reply=250",
      "smtp command=\"DATA\" reply=354",
      "smtp data bytes=" + bytes + " reply=250",
      "smtp command=\"QUIT\" reply=221",
      "result code=1 text=\"\"",
  };
  const std::string text = zentrova::testing::ReadFile(dir.File("setting.log"));
  EXPECT_EQ(TraceSteps(text, expected), expected) << text;
  for (const char* secret : {"secret", "PW=", "proxyuser"})
    EXPECT_EQ(text.find(secret), std::string::npos) << secret;

  // The environment variable wins; the setting's file is left alone.
  Servers(proxy.Address(), proxy.Address());
  Script({"PagoraMessage(\"0412345678\", \"Hi\")"}, {{"ZENTROVA_TRACE", dir.File("env.log")}});
  EXPECT_EQ(zentrova::testing::ReadFile(dir.File("setting.log")), text);
  EXPECT_NE(zentrova::testing::ReadFile(dir.File("env.log")).find(" result code=0 text="),
            std::string::npos);

  Set("TraceFile", dir.File("missing/setting.log"));
  ExpectOutcome({}, false, kNotByWeb);
}

// Behind squid with Basic authentication: the proxy is used even where
// no_proxy would exempt the gateway; gateways squid cannot reach (its 503)
// fall back to mail like gateways that cannot be reached directly; and
// credentials squid refused are not offered again in the call.
TEST_F(DeliverTest, BehindSquid) {
  zentrova::testing::Squid squid("zentrova", "proxy-secret");
  ASSERT_TRUE(squid.Ready()) << squid.Problem();
  zentrova::testing::MailboxServer mailbox;
  ASSERT_FALSE(mailbox.Address().empty()) << "aiosmtpd did not start";
  Sandbox gateway({"--http", "127.0.0.1:0"});
  ASSERT_TRUE(gateway.Ready());
  DeadPort dead;
  zentrova::testing::TempDir dir;
  Set("DebugGateway", "gateway@test.example");
  auto proxy = [&](const std::string& password, std::vector<std::string> more = {}) {
    more.insert(more.end(),
                {"ProxyType=2", "ProxyAddress=127.0.0.1", "ProxyUserName=zentrova",
                 "ProxyPort=" + std::to_string(squid.Port()), "ProxyPassword=" + password});
    return more;
  };

  Servers(gateway.Address(), gateway.Address());
  ExpectOutcome(proxy("proxy-secret"), true, "", {{"no_proxy", "*"}});
  std::vector<json> requests = gateway.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0]["headers"].dump().find("proxy.zentrova.test (squid"), std::string::npos)
      << requests[0].dump();
  EXPECT_FALSE(requests[0]["fields"].contains("error")) << requests[0].dump();

  Servers(dead.Address(), dead.Address());
  ExpectOutcome(proxy("proxy-secret", {"DeliveryMethod=2", "SMTPServer=" + mailbox.Address(),
                                       "SMTPLoginName=mailer"}),
                true, "");
  EXPECT_TRUE(mailbox.Mail(1).is_object());

  Servers(gateway.Address(), gateway.Address());
  Set("TraceFile", dir.File("trace.log"));
  ExpectOutcome(proxy("wrong"), false, kNotByWeb);
  const std::string trace = zentrova::testing::ReadFile(dir.File("trace.log"));
  int asked = 0;  // without credentials, with them (refused), and the secondary without
  for (const std::string& step : TraceSteps(trace))
    asked += step.find(" status=407 ") != std::string::npos;
  EXPECT_EQ(asked, 3) << trace;
  EXPECT_NE(trace.find("http proxy=\"127.0.0.1:" + std::to_string(squid.Port()) +
                       "\" note=\"the proxy refused the credentials\"\n"),
            std::string::npos)
      << trace;
  EXPECT_EQ(gateway.Requests().size(), 1u);
}

}  // namespace
