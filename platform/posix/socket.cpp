// The POSIX socket calls under portable/socket.cpp: descriptors opened
// non-blocking and close-on-exec, poll for the waits, errno for the errors.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/portable/socket_calls.h"

namespace zentrova::platform::system {
namespace {

int Fd(Socket s) { return static_cast<int>(s); }

// A call that would block waits; one a signal broke off is made again.
Step Classify(int err) {
  if (err == EINTR) return Step{Step::kAgain};
  if (err == EAGAIN || err == EWOULDBLOCK) return Step{Step::kWait};
  return Step{Step::kFailed, 0, err};
}

}  // namespace

const int kPreferredFamily = AF_INET6;
const int kFallbackFamily = AF_INET;
const int kTimedOutError = ETIMEDOUT;

int OpenStream(int family, Socket& s) {
  int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  s = static_cast<Socket>(fd);
  return 0;
}

bool FamilyMissing(int error) { return error == EAFNOSUPPORT || error == EPROTONOSUPPORT; }

void CloseStream(Socket s) { ::close(Fd(s)); }

int LastError() { return errno; }

std::string ErrorText(int error) { return std::strerror(error); }

int WaitFor(Socket s, bool write, Clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    if (left > INT_MAX) left = INT_MAX;
    pollfd p{Fd(s), static_cast<short>(write ? POLLOUT : POLLIN), 0};
    int n = ::poll(&p, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    return n == 0 ? 0 : 1;  // errors and hang-ups show in the call that follows
  }
}

Step Connect(Socket s, const Address& address) {
  if (::connect(Fd(s), SystemAddress(address), static_cast<socklen_t>(address.length)) == 0)
    return Step{Step::kDone};
  // A connection a signal broke off goes on in the background, as one under way.
  if (errno == EINPROGRESS || errno == EINTR) return Step{Step::kWait};
  return Step{Step::kFailed, 0, errno};
}

int ConnectError(Socket s) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  return err;
}

Step Send(Socket s, std::string_view data) {
  ssize_t n = ::send(Fd(s), data.data(), data.size(), MSG_NOSIGNAL);
  if (n > 0) return Step{Step::kDone, static_cast<std::size_t>(n)};
  return Classify(n < 0 ? errno : EIO);
}

Step Receive(Socket s, char* buffer, std::size_t size) {
  ssize_t n = ::recv(Fd(s), buffer, size, 0);
  if (n >= 0) return Step{Step::kDone, static_cast<std::size_t>(n)};
  return Classify(errno);
}

Step Accept(Socket listener, Socket& accepted) {
  int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd >= 0) {
    accepted = static_cast<Socket>(fd);
    return Step{Step::kDone};
  }
  // A connection the peer gave up before it was taken: take the next one.
  if (errno == ECONNABORTED) return Step{Step::kAgain};
  return Classify(errno);
}

void Shutdown(Socket s) { ::shutdown(Fd(s), SHUT_RDWR); }

int Listen(Socket s, const Address& address) {
  int on = 1;
  ::setsockopt(Fd(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(Fd(s), SystemAddress(address), static_cast<socklen_t>(address.length)) != 0 ||
      ::listen(Fd(s), SOMAXCONN) != 0)
    return errno;
  return 0;
}

// inet_ntop, as getnameinfo would add a scope to a link-local address.
bool LocalEnd(Socket s, std::string* address, bool* is_ipv6, std::uint16_t& port) {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (::getsockname(Fd(s), reinterpret_cast<sockaddr*>(&ss), &len) != 0) return false;
  const bool v6 = ss.ss_family == AF_INET6;
  const auto* in4 = reinterpret_cast<const sockaddr_in*>(&ss);
  const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&ss);
  port = ntohs(v6 ? in6->sin6_port : in4->sin_port);
  if (!address) return true;
  char text[INET6_ADDRSTRLEN] = {};
  if ((!v6 && ss.ss_family != AF_INET) ||
      !::inet_ntop(ss.ss_family, v6 ? static_cast<const void*>(&in6->sin6_addr) : &in4->sin_addr,
                   text, sizeof text))
    return false;
  *is_ipv6 = v6;
  *address = text;
  return true;
}

// On Linux, shutting a listening socket down wakes poll and makes accept fail.
void WakeListener(std::atomic<Socket>& listener) {
  Socket s = listener.load();
  if (s != kNoSocket) ::shutdown(Fd(s), SHUT_RDWR);
}

}  // namespace zentrova::platform::system
