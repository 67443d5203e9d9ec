// Winsock. Sockets are non-blocking underneath and every wait is a select
// with the caller's limit, so no call blocks longer than it was allowed to.
// Every open socket holds one Winsock start-up (WSAStartup counts them) from
// its opening to its closing, so no caller needs a start-up of its own and
// none is left behind.
#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/portable/host_names.h"
#include "platform/win32/handles.h"

namespace zentrova::platform {
namespace {

using Clock = std::chrono::steady_clock;

std::mutex g_resolverLock;
NameResolver g_resolver;  // empty: the system's

std::string WsaText(const std::string& what, int err) {
  return what + ": " + win32::ErrorText(static_cast<DWORD>(err));
}

// A new non-blocking stream socket and the Winsock start-up it holds.
SOCKET OpenStream(int family) {
  WSADATA data;
  if (int rc = WSAStartup(MAKEWORD(2, 2), &data)) {
    WSASetLastError(rc);
    return INVALID_SOCKET;
  }
  SOCKET s = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    int err = WSAGetLastError();
    WSACleanup();
    WSASetLastError(err);
    return s;
  }
  u_long on = 1;
  ::ioctlsocket(s, FIONBIO, &on);
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return s;
}

// Waits until s is ready to read (or accept), to write (or has connected),
// or has failed to connect. 1 ready, 0 time-out, -1 failure.
int WaitFor(SOCKET s, bool write, Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now()).count();
  if (left < 0) left = 0;
  timeval tv{static_cast<long>(left / 1000000), static_cast<long>(left % 1000000)};
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);  // a refused connection shows here, not as writable
  int n = ::select(0, write ? nullptr : &ready, write ? &ready : nullptr, write ? &failed : nullptr,
                   &tv);
  if (n == SOCKET_ERROR) return -1;
  return n > 0 ? 1 : 0;
}

SocketResult AwaitReady(SOCKET s, bool write, Clock::time_point deadline, Milliseconds limit,
                        const char* operation, const char* what, std::string& error) {
  int ready = WaitFor(s, write, deadline);
  if (ready > 0) return SocketResult::kOk;
  if (ready == 0) {
    error = std::string(what) + " within " + std::to_string(limit.count()) + " ms";
    return SocketResult::kTimedOut;
  }
  error = WsaText(operation, WSAGetLastError());
  return SocketResult::kError;
}

// Closes s and gives back its Winsock start-up.
void CloseStream(SOCKET s) {
  ::closesocket(s);
  WSACleanup();
}

}  // namespace

void FixNameResolver(NameResolver resolver) {
  std::lock_guard<std::mutex> lock(g_resolverLock);
  g_resolver = std::move(resolver);
}

struct TcpSocket::Impl {
  SOCKET s = INVALID_SOCKET;
  bool fresh = false;  // opened by Create and not yet used for a connection attempt
  int family = 0;
};

struct TcpListener::Impl {
  std::atomic<SOCKET> s{INVALID_SOCKET};  // Interrupt closes it from another thread
  std::uint16_t port = 0;
};

TcpSocket::TcpSocket() : impl_(std::make_unique<Impl>()) {}
TcpSocket::~TcpSocket() { Close(); }

// The moved-from socket keeps a state of its own, closed, so that it can be used again.
TcpSocket::TcpSocket(TcpSocket&& other) noexcept : TcpSocket() { impl_.swap(other.impl_); }

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    impl_.swap(other.impl_);
  }
  return *this;
}

bool TcpSocket::IsOpen() const { return impl_->s != INVALID_SOCKET; }

bool TcpSocket::Create(std::string& error) {
  Close();
  int family = AF_INET6;
  SOCKET s = OpenStream(family);
  if (s == INVALID_SOCKET && WSAGetLastError() == WSAEAFNOSUPPORT) {
    family = AF_INET;
    s = OpenStream(family);
  }
  if (s == INVALID_SOCKET) {
    error = WsaText("cannot create a socket", WSAGetLastError());
    return false;
  }
  impl_->s = s;
  impl_->family = family;
  impl_->fresh = true;
  return true;
}

SocketResult TcpSocket::Connect(std::string_view host, std::uint16_t port, Milliseconds limit,
                                std::string& error) {
  WSADATA data;  // getaddrinfo needs Winsock before any socket exists
  if (int rc = WSAStartup(MAKEWORD(2, 2), &data)) {
    error = WsaText("Windows Sockets cannot start", rc);
    return SocketResult::kError;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  std::string name(host);
  std::vector<std::string> names{name};
  {
    std::lock_guard<std::mutex> lock(g_resolverLock);
    if (g_resolver) {
      if (!g_resolver(name, names, error)) {
        Close();
        WSACleanup();
        return SocketResult::kError;
      }
      hints.ai_flags |= AI_NUMERICHOST;
    }
  }
  std::vector<std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>> lists;
  std::vector<const addrinfo*> addresses;
  for (const std::string& each : names) {
    addrinfo* list = nullptr;
    if (int rc = ::getaddrinfo(each.c_str(), std::to_string(port).c_str(), &hints, &list)) {
      lists.clear();
      Close();
      WSACleanup();
      error = WsaText("cannot resolve " + name, rc);
      return SocketResult::kError;
    }
    lists.emplace_back(list, &::freeaddrinfo);
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) addresses.push_back(ai);
  }

  bool timed_out = false;
  error = "no address for " + name;
  SocketResult result = SocketResult::kError;
  for (const addrinfo* ai : addresses) {
    SOCKET s;
    if (impl_->s != INVALID_SOCKET && impl_->fresh && impl_->family == ai->ai_family) {
      s = std::exchange(impl_->s, INVALID_SOCKET);
    } else {
      s = OpenStream(ai->ai_family);
      if (s == INVALID_SOCKET) {
        error = WsaText("cannot create a socket", WSAGetLastError());
        continue;
      }
    }
    int err = 0;
    if (::connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) != 0) {
      err = WSAGetLastError();
      if (err == WSAEWOULDBLOCK) {
        int ready = WaitFor(s, true, Clock::now() + limit);
        if (ready == 0) {
          err = WSAETIMEDOUT;
          timed_out = true;
        } else if (ready < 0) {
          err = WSAGetLastError();
        } else {
          int len = sizeof err;
          if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
            err = WSAGetLastError();
        }
      }
    }
    if (err == 0) {
      Close();
      impl_->s = s;
      impl_->family = ai->ai_family;
      impl_->fresh = false;
      error.clear();
      result = SocketResult::kOk;
      break;
    }
    CloseStream(s);
    error = WsaText("cannot connect to " + name, err);
  }
  lists.clear();
  WSACleanup();
  if (result == SocketResult::kOk) return result;
  Close();
  if (timed_out) {
    error = "no answer from " + name + " within " + std::to_string(limit.count()) + " ms";
    return SocketResult::kTimedOut;
  }
  return SocketResult::kError;
}

SocketResult TcpSocket::SendAll(std::string_view data, Milliseconds limit, std::string& error) {
  if (impl_->s == INVALID_SOCKET) {
    error = "socket is not open";
    return SocketResult::kError;
  }
  auto deadline = Clock::now() + limit;
  while (!data.empty()) {
    int chunk = static_cast<int>(std::min<std::size_t>(data.size(), INT_MAX));
    int n = ::send(impl_->s, data.data(), chunk, 0);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    int err = n < 0 ? WSAGetLastError() : WSAECONNRESET;
    if (err == WSAEWOULDBLOCK) {
      SocketResult waited =
          AwaitReady(impl_->s, true, deadline, limit, "send", "send did not complete", error);
      if (waited != SocketResult::kOk) return waited;
      continue;
    }
    error = WsaText("send", err);
    return SocketResult::kError;
  }
  return SocketResult::kOk;
}

SocketResult TcpSocket::Receive(char* buffer, std::size_t size, Milliseconds limit,
                                std::size_t* received, std::string& error) {
  *received = 0;
  if (impl_->s == INVALID_SOCKET) {
    error = "socket is not open";
    return SocketResult::kError;
  }
  auto deadline = Clock::now() + limit;
  for (;;) {
    int n = ::recv(impl_->s, buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
    if (n > 0) {
      *received = static_cast<std::size_t>(n);
      return SocketResult::kOk;
    }
    if (n == 0) return SocketResult::kClosed;
    int err = WSAGetLastError();
    if (err != WSAEWOULDBLOCK) {
      error = WsaText("receive", err);
      return SocketResult::kError;
    }
    SocketResult waited =
        AwaitReady(impl_->s, false, deadline, limit, "receive", "nothing received", error);
    if (waited != SocketResult::kOk) return waited;
  }
}

void TcpSocket::Shutdown() {
  if (impl_->s != INVALID_SOCKET) ::shutdown(impl_->s, SD_BOTH);
}

void TcpSocket::Close() {
  if (impl_->s != INVALID_SOCKET) CloseStream(std::exchange(impl_->s, INVALID_SOCKET));
  impl_->fresh = false;
}

bool TcpSocket::LocalAddress(std::string& address, bool& is_ipv6) const {
  sockaddr_storage ss{};
  int len = sizeof ss;
  if (impl_->s == INVALID_SOCKET ||
      ::getsockname(impl_->s, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
    return false;
  char text[INET6_ADDRSTRLEN] = {};
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&ss), len, text, sizeof text, nullptr, 0,
                    NI_NUMERICHOST) != 0)
    return false;
  is_ipv6 = ss.ss_family == AF_INET6;
  address = text;
  return true;
}

TcpListener::TcpListener() : impl_(std::make_unique<Impl>()) {}
TcpListener::~TcpListener() { Close(); }

std::uint16_t TcpListener::Port() const { return impl_->port; }

bool TcpListener::Listen(std::string_view host, std::uint16_t port, std::string& error) {
  Close();
  WSADATA data;
  if (int rc = WSAStartup(MAKEWORD(2, 2), &data)) {
    error = WsaText("Windows Sockets cannot start", rc);
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* list = nullptr;
  std::string name(host);
  int rc = ::getaddrinfo(name.empty() ? nullptr : name.c_str(), std::to_string(port).c_str(),
                         &hints, &list);
  if (rc != 0) {
    WSACleanup();
    error = WsaText("cannot resolve " + name, rc);
    return false;
  }
  error = "no address for " + name;
  for (addrinfo* ai = list; ai && impl_->s == INVALID_SOCKET; ai = ai->ai_next) {
    SOCKET s = OpenStream(ai->ai_family);
    if (s == INVALID_SOCKET) {
      error = WsaText("cannot create a socket", WSAGetLastError());
      continue;
    }
    // Exclusive: on Windows SO_REUSEADDR would let another program take the port.
    BOOL on = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    if (::bind(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) != 0 ||
        ::listen(s, SOMAXCONN) != 0) {
      error = WsaText("cannot listen on " + name + ":" + std::to_string(port), WSAGetLastError());
      CloseStream(s);
      continue;
    }
    impl_->s = s;
  }
  ::freeaddrinfo(list);
  WSACleanup();
  if (impl_->s == INVALID_SOCKET) return false;

  sockaddr_storage ss{};
  int len = sizeof ss;
  ::getsockname(impl_->s, reinterpret_cast<sockaddr*>(&ss), &len);
  impl_->port = ntohs(ss.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                                               : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
  error.clear();
  return true;
}

SocketResult TcpListener::Accept(TcpSocket& connection, Milliseconds limit, std::string& error) {
  if (impl_->s == INVALID_SOCKET) {
    error = "not listening";
    return SocketResult::kError;
  }
  auto deadline = Clock::now() + limit;
  for (;;) {
    SOCKET s = ::accept(impl_->s, nullptr, nullptr);
    if (s != INVALID_SOCKET) {
      WSADATA data;
      WSAStartup(MAKEWORD(2, 2), &data);  // the connection holds its own start-up
      u_long on = 1;
      ::ioctlsocket(s, FIONBIO, &on);
      connection.Close();
      connection.impl_->s = s;
      return SocketResult::kOk;
    }
    int err = WSAGetLastError();
    if (err == WSAECONNRESET) continue;
    if (err != WSAEWOULDBLOCK) {
      error = WsaText("accept", err);
      return SocketResult::kError;
    }
    SocketResult waited =
        AwaitReady(impl_->s, false, deadline, limit, "accept", "no connection", error);
    if (waited != SocketResult::kOk) return waited;
  }
}

void TcpListener::Interrupt() {
  // Windows does not wake a select on a listening socket that is shut down;
  // closing the socket does (the select fails), so the listener ends here.
  SOCKET s = impl_->s.exchange(INVALID_SOCKET);
  if (s != INVALID_SOCKET) CloseStream(s);
}

void TcpListener::Close() {
  SOCKET s = impl_->s.exchange(INVALID_SOCKET);
  if (s != INVALID_SOCKET) CloseStream(s);
  impl_->port = 0;
}

}  // namespace zentrova::platform

namespace zentrova::platform::system {

bool HostName(std::string& name) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  char buffer[256] = {};
  bool ok = ::gethostname(buffer, sizeof buffer - 1) == 0;
  WSACleanup();
  name = buffer;
  return ok && !name.empty();
}

bool CanonicalName(const std::string& name, std::string& canonical) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) == 0) {
    canonical = list->ai_canonname ? list->ai_canonname : "";
    ::freeaddrinfo(list);
  }
  WSACleanup();
  return !canonical.empty();
}

}  // namespace zentrova::platform::system
