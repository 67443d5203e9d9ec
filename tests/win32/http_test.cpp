// WinINet against a scripted peer on the build machine's loopback
// (http_peer.py), reached over Winsock by the platform's own socket: the bytes
// a send puts on the wire, and the result codes Windows gives for a reply
// that does not come in time.
#include "platform/http.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "gateway/commandline/transport.h"
#include "platform/socket.h"

namespace {

using namespace std::chrono_literals;

std::string Peer() {
  const char* port = std::getenv("ZV_PEER_PORT");
  return port ? std::string("127.0.0.1:") + port : "";
}

// One line to the peer's control side; what it answers, to its end.
std::string Control(const std::string& line) {
  const char* port = std::getenv("ZV_PEER_PORT");
  zentrova::platform::TcpSocket socket;
  if (!port) return "(no peer)";
  zentrova::platform::SocketStatus sent =
      socket.Connect("127.0.0.1", static_cast<std::uint16_t>(std::atoi(port)), 5s);
  if (sent.ok()) sent = socket.SendAll(line + "\n", 5s);
  if (!sent.ok()) return "(no peer: " + sent.message + ")";
  std::string answer;
  char buffer[4096];
  std::size_t got = 0;
  while (socket.Receive(buffer, sizeof buffer, 5s, got).ok()) answer.append(buffer, got);
  return answer;
}

TEST(WinHttp, TheCommandLineSendOnTheWire) {
  ASSERT_FALSE(Peer().empty()) << "run through http_peer.py";
  ASSERT_EQ(Control("SCRIPT ok"), "OK\n");
  const std::string document = "[FROM]\nEmail=e@x\n\n[1]\nMessage=Hi\nNumber=0419\n";
  std::string text;
  EXPECT_EQ(zentrova::gateway::SendHttpRequest(Peer(), 0, document, text), 0);
  EXPECT_EQ(text, "0000 Accepted");

  // WinINet writes the request line and these headers; Windows adds the
  // keep-alive and no-cache ones by itself, which the kit does not ask for.
  const std::string wire = Control("LAST");
  const std::string head = wire.substr(0, wire.find("\r\n\r\n") + 4);
  EXPECT_EQ(wire.substr(head.size()), document);
  EXPECT_EQ(head.rfind("POST /sms.dll?private&type=0 HTTP/1.1\r\n", 0), 0u) << head;
  for (const std::string& header :
       std::vector<std::string>{"User-Agent: Zentrova\r\n", "Host: " + Peer() + "\r\n",
                                "Content-Length: " + std::to_string(document.size()) + "\r\n",
                                "Connection: Keep-Alive\r\n"})
    EXPECT_NE(head.find(header), std::string::npos) << header << " in\n" << head;
  EXPECT_EQ(head.find("Authorization"), std::string::npos) << head;

  // A "100 Continue" and then a closed connection: the request went out, so
  // the send ends as one that may have delivered the message.
  ASSERT_EQ(Control("SCRIPT continue_close"), "OK\n");
  EXPECT_EQ(zentrova::gateway::SendHttpRequest(Peer(), 0, document, text), -2);
  EXPECT_NE(text.find("may have been delivered"), std::string::npos) << text;
}

// Through a proxy that wants a password: the second attempt answers it with
// the configured user (Basic "user:secret", as Python's base64 writes it),
// and the error dialog, with nobody to show it to, does not hold the send up.
TEST(WinHttp, AProxyAskingForAPasswordIsAnsweredOnTheNextAttempt) {
  ASSERT_EQ(Control("SCRIPT auth407"), "OK\n");
  const std::string port = std::getenv("ZV_PEER_PORT");
  zentrova::gateway::SetProxyDetails("127.0.0.1", std::atoi(port.c_str()), "user", "secret");
  std::string text;
  EXPECT_EQ(zentrova::gateway::SendHttpRequest("gateway.example", 0, "doc", text), -2);
  EXPECT_EQ(text, "HTTP Error 407\r\n");
  const std::string wire = Control("LAST");
  EXPECT_NE(wire.find("Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"), std::string::npos)
      << wire;
  zentrova::gateway::SetProxyDetails(nullptr, 0, nullptr, nullptr);
}

// A reply that does not come within the receive limit is Windows' time-out
// (12002), after the request had gone out, and no sooner than the limit.
TEST(WinHttp, AReplyThatDoesNotComeIsATimeOut) {
  ASSERT_EQ(Control("SCRIPT stall"), "OK\n");
  zentrova::platform::HttpSession session;
  zentrova::platform::HttpConnection connection;
  zentrova::platform::HttpRequest request;
  zentrova::platform::HttpError error;
  ASSERT_TRUE(session.Open("Zentrova", zentrova::platform::HttpAccess::kDirect, {}, error));
  session.SetTimeouts({.connectMs = 2000, .sendMs = 2000, .receiveMs = 1000, .attemptMs = 0});
  ASSERT_TRUE(connection.Open(session, Peer(), 80, error)) << error.message;
  ASSERT_TRUE(request.Open(connection, "POST", "/sms.dll?private&type=0", error));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(request.Send("body", error));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(error.code, zentrova::platform::kInternetErrorTimeout) << error.message;
  EXPECT_TRUE(error.requestSent);
  EXPECT_GE(elapsed, 950ms);
  EXPECT_LT(elapsed, 20s);
}

}  // namespace
