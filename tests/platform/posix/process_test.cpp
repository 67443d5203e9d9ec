// A program started with its standard input closed gets descriptor 0 for the
// first socket or file it opens; each step here runs with 0 closed just
// before it, in a child whose exit status has a bit for each step that failed.
#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/append_file.h"
#include "platform/http.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "tests/platform/contract.h"
#include "tests/support/peers.h"

namespace zentrova::platform {
namespace {

int StepsOnZero(const std::string& dir) {
  auto onZero = [] {
    struct stat st;
    return fstat(0, &st) == 0 && S_ISSOCK(st.st_mode);
  };
  const Milliseconds limit(5000);
  int failed = 0;
  close(0);
  TcpListener first, second;
  if (!first.Listen("127.0.0.1", 0).ok() || !onZero() || !second.Listen("127.0.0.1", 0).ok())
    failed |= 1;
  first.Close();
  TcpSocket client, later, accepted;
  if (!client.Connect("127.0.0.1", second.Port(), limit).ok() || !onZero() ||
      !later.Create().ok() || !later.Connect("127.0.0.1", second.Port(), limit).ok())
    failed |= 2;
  client.Close();
  if (!second.Accept(accepted, limit).ok() || !onZero()) failed |= 4;
  accepted.Close();
  TcpSocket made;  // one socket made, the one closed: 0 is free again
  if (!made.Create().ok() || !onZero() || (made.Close(), onZero())) failed |= 32;
  setenv("ZENTROVA_REGISTRY", dir.c_str(), 1);
  RegistryWriter w(RegistryRoot::kCurrentUser);
  w.SetString("K", "V", "1");
  char cwd[4096];
  const auto zeroFree = [] { return fcntl(0, F_GETFD) == -1; };
  if (w.Commit().code != kErrorSuccess ||
      zentrova::testing::RegistryText(RegistryRoot::kCurrentUser, "K", "V") != "1" || !zeroFree())
    failed |= 8;
  // The trace's lock is let go after each line, its file when it is closed.
  AppendFile trace;
  std::string error;
  const std::string traced = dir + "/trace";
  const auto unlocked = [&traced] {
    const int other = open(traced.c_str(), O_RDONLY);
    const bool taken = flock(other, LOCK_EX | LOCK_NB) == 0;
    return close(other) == 0 && taken;
  };
  if (!trace.Open(traced, error) || zeroFree() || !trace.Append("0\n", error) || !unlocked() ||
      (trace.Close(), !zeroFree()))
    failed |= 64;
  // And the current directory is the one asked for.
  std::string message;
  if (!ChangeCurrentDirectory(dir) || !getcwd(cwd, sizeof cwd) || cwd != dir ||
      ChangeCurrentDirectory(dir + "/missing", &message) || message.empty())
    failed |= 16;
  return failed;
}

TEST(Descriptors, ZeroServesAsAListenerAConnectionAHiveFileAndTheTrace) {
  zentrova::testing::TempDir dir;
  EXPECT_EXIT(std::_Exit(StepsOnZero(dir.Path())), ::testing::ExitedWithCode(0), "");
}

// A peer that never reads holds a send up only until its limit (even with a reply unread, which
// makes the sender's socket readable but gives it no room); one that is gone fails it.
TEST(Descriptors, ASendEndsAtItsLimitOrWhenThePeerIsGone) {
  TcpListener listener;
  TcpSocket client, peer;
  ASSERT_TRUE(listener.Listen("127.0.0.1", 0).ok());
  zentrova::testing::DeadPort dead;
  const int lowest = dup(2);  // a listen (port in use) or a connection that fails leaves it free
  close(lowest);
  const std::uint16_t number = listener.Port();
  EXPECT_EQ(TcpListener().Listen("127.0.0.1", number).message,
            "cannot listen on 127.0.0.1:" + std::to_string(number) + ": Address already in use");
  EXPECT_EQ(TcpSocket().Connect("127.0.0.1", dead.port(), Milliseconds(5000)).message,
            "cannot connect to 127.0.0.1: Connection refused");
  EXPECT_EQ(dup(2), lowest);
  ASSERT_TRUE(client.Connect("127.0.0.1", listener.Port(), Milliseconds(5000)).ok());
  ASSERT_TRUE(listener.Accept(peer, Milliseconds(5000)).ok());
  ASSERT_TRUE(peer.SendAll("!", Milliseconds(100)).ok());
  EXPECT_EQ(client.SendAll(std::string(32 << 20, 'x'), Milliseconds(100)).message,
            "send did not complete within 100 ms");
  peer.Close();  // with bytes unread: the connection is reset
  EXPECT_EQ(client.SendAll("x", Milliseconds(100)).code, SocketResult::kError);
  ASSERT_TRUE(client.Connect("127.0.0.1", number, Milliseconds(5000)).ok());
  ASSERT_TRUE(listener.Accept(peer, Milliseconds(5000)).ok());
  peer.Close();  // first: the port stays in TIME_WAIT on the listener's side, and is taken again
  client.Close();
  EXPECT_TRUE(listener.Listen("127.0.0.1", number).ok());  // which closes the listener first
  ASSERT_TRUE(listener.Listen("", 0).ok());  // no name: every address, 127.0.0.2 as well
  EXPECT_TRUE(TcpSocket().Connect("127.0.0.2", listener.Port(), Milliseconds(5000)).ok());
}

// A finished request leaves its handle, and the connection it keeps, to the next request to
// the same server, eight handles at most: eight at once, one elsewhere, eight again open nine.
TEST(Descriptors, EightIdleConnectionsAreKeptEachForItsServer) {
  zentrova::testing::RawListener a, b;
  HttpSession session;
  HttpConnection toA, toB;
  HttpError error;
  ASSERT_TRUE(session.Open("t", HttpAccess::kDirect, {}, error) &&
              toA.Open(session, a.Address(), 0, error) && toB.Open(session, b.Address(), 0, error));
  for (auto [to, count] : {std::pair{&toA, 8}, {&toB, 1}, {&toA, 8}}) {
    std::vector<HttpRequest> requests(count);
    for (auto& r : requests) ASSERT_TRUE(r.Open(*to, "POST", "/", error) && r.Send("x", error));
  }
  EXPECT_EQ(a.Connections(), 9);
}

// A request has no reply before it is sent. Without a limit of its own, an attempt ends when
// its connect, send and reply waits are spent together, which a reply trickling in meets.
TEST(Descriptors, ARequestAnswersOnlyOnceSentAndAnAttemptEndsAtItsWaitsTogether) {
  zentrova::testing::RawListener trickle({zentrova::testing::Repeat(
      "HTTP/1.1 200 OK\r\nContent-Length: 2000\r\n\r\n", std::chrono::milliseconds(100))});
  HttpSession session;
  HttpConnection to;
  HttpRequest request;
  HttpError error;
  ASSERT_TRUE(session.Open("t", HttpAccess::kDirect, {}, error));
  session.SetTimeouts({.connectMs = 200, .sendMs = 1, .receiveMs = 300, .attemptMs = 0});
  ASSERT_TRUE(to.Open(session, trickle.Address(), 0, error) && request.Open(to, "POST", "/", error));
  unsigned long status = 0;
  char bytes[4096];
  std::size_t n = 0;
  EXPECT_FALSE(request.QueryStatusCode(status, error) || request.Read(bytes, sizeof bytes, n, error));
  EXPECT_EQ(error.code, kInternetErrorIncorrectHandleState);
  ASSERT_TRUE(request.Send("x", error) && request.QueryStatusCode(status, error)) << error.message;
  while (request.Read(bytes, sizeof bytes, n, error) && n > 0) {
  }
  EXPECT_EQ(error.code, kInternetErrorTimeout) << error.message;
}

}  // namespace
}  // namespace zentrova::platform
