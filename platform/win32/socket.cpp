// The Winsock calls under portable/socket.cpp: sockets set non-blocking,
// select for the waits, WSAGetLastError for the errors. Every open socket
// holds one Winsock start-up (WSAStartup counts them) from its opening to its
// closing, and a name lookup holds one while it runs (portable/names.cpp), so no caller needs a
// start-up of its own and none is left behind.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/portable/socket_calls.h"
#include "platform/win32/handles.h"

namespace zentrova::platform::system {
namespace {

SOCKET Handle(Socket s) { return static_cast<SOCKET>(s); }

// A call that would block waits; any other error fails it.
Step Classify(int err) {
  if (err == WSAEWOULDBLOCK) return Step{Step::kWait};
  return Step{Step::kFailed, 0, err};
}

void MakeNonBlocking(SOCKET s) {
  u_long on = 1;
  ::ioctlsocket(s, FIONBIO, &on);
}

}  // namespace

const int kPreferredFamily = AF_INET6;
const int kFallbackFamily = AF_INET;
const int kTimedOutError = WSAETIMEDOUT;

// The socket keeps the start-up it was opened with until CloseStream.
int OpenStream(int family, Socket& out) {
  WSADATA data;
  if (int rc = WSAStartup(MAKEWORD(2, 2), &data)) return rc;
  SOCKET s = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    int err = WSAGetLastError();
    WSACleanup();
    return err;
  }
  MakeNonBlocking(s);
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  out = static_cast<Socket>(s);
  return 0;
}

bool FamilyMissing(int error) { return error == WSAEAFNOSUPPORT; }

// Closes s and gives back its Winsock start-up.
void CloseStream(Socket s) {
  ::closesocket(Handle(s));
  WSACleanup();
}

int LastError() { return WSAGetLastError(); }

std::string ErrorText(int error) { return win32::ErrorText(static_cast<DWORD>(error)); }

int WaitFor(Socket s, bool write, Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now()).count();
  if (left < 0) left = 0;
  timeval tv{static_cast<long>(left / 1000000), static_cast<long>(left % 1000000)};
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(Handle(s), &ready);
  FD_SET(Handle(s), &failed);  // a refused connection shows here, not as writable
  int n = ::select(0, write ? nullptr : &ready, write ? &ready : nullptr, write ? &failed : nullptr,
                   &tv);
  if (n == SOCKET_ERROR) return -1;
  return n > 0 ? 1 : 0;
}

Step Connect(Socket s, const Address& address) {
  if (::connect(Handle(s), SystemAddress(address), address.length) == 0) return Step{Step::kDone};
  return Classify(WSAGetLastError());
}

int ConnectError(Socket s) {
  int err = 0;
  int len = sizeof err;
  if (::getsockopt(Handle(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
    err = WSAGetLastError();
  return err;
}

Step Send(Socket s, std::string_view data) {
  int chunk = static_cast<int>(std::min<std::size_t>(data.size(), INT_MAX));
  int n = ::send(Handle(s), data.data(), chunk, 0);
  if (n > 0) return Step{Step::kDone, static_cast<std::size_t>(n)};
  return Classify(n < 0 ? WSAGetLastError() : WSAECONNRESET);
}

Step Receive(Socket s, char* buffer, std::size_t size) {
  int n = ::recv(Handle(s), buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
  if (n >= 0) return Step{Step::kDone, static_cast<std::size_t>(n)};
  return Classify(WSAGetLastError());
}

Step Accept(Socket listener, Socket& accepted) {
  SOCKET s = ::accept(Handle(listener), nullptr, nullptr);
  if (s != INVALID_SOCKET) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);  // the connection holds its own start-up
    MakeNonBlocking(s);
    accepted = static_cast<Socket>(s);
    return Step{Step::kDone};
  }
  int err = WSAGetLastError();
  // A connection the peer gave up before it was taken: take the next one.
  if (err == WSAECONNRESET) return Step{Step::kAgain};
  return Classify(err);
}

void Shutdown(Socket s) { ::shutdown(Handle(s), SD_BOTH); }

int Listen(Socket s, const Address& address) {
  // Exclusive: on Windows SO_REUSEADDR would let another program take the port.
  BOOL on = TRUE;
  ::setsockopt(Handle(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
  if (::bind(Handle(s), SystemAddress(address), address.length) != 0 ||
      ::listen(Handle(s), SOMAXCONN) != 0)
    return WSAGetLastError();
  return 0;
}

bool LocalEnd(Socket s, std::string* address, bool* is_ipv6, std::uint16_t& port) {
  sockaddr_storage ss{};
  int len = sizeof ss;
  char text[INET6_ADDRSTRLEN] = {};
  char service[8] = {};
  if (::getsockname(Handle(s), reinterpret_cast<sockaddr*>(&ss), &len) != 0 ||
      ::getnameinfo(reinterpret_cast<sockaddr*>(&ss), len, text, sizeof text, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return false;
  port = static_cast<std::uint16_t>(std::atoi(service));
  if (address) *address = text;
  if (is_ipv6) *is_ipv6 = ss.ss_family == AF_INET6;
  return true;
}

// Windows does not wake a select on a listening socket that is shut down;
// closing the socket does (the select fails), so the listener ends here.
void WakeListener(std::atomic<Socket>& listener) {
  Socket s = listener.exchange(kNoSocket);
  if (s != kNoSocket) CloseStream(s);
}

}  // namespace zentrova::platform::system
