#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/portable/host_names.h"

namespace zentrova::platform {
namespace {

using Clock = std::chrono::steady_clock;

std::string ErrnoText(const char* what, int err) {
  return std::string(what) + ": " + std::strerror(err);
}

// The descriptor is non-blocking underneath; the waits below make the calls
// blocking for the caller, with a bound.
int OpenStream(int family) {
  return ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

// Waits for events on fd until deadline. Returns 1 when ready, 0 on time-out,
// -1 with errno set on failure.
int WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::ceil<Milliseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    if (left > INT_MAX) left = INT_MAX;
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) return 0;
    return 1;  // errors and hang-ups show in the call that follows
  }
}

// Waits for fd to become ready for a blocked operation. kOk when ready;
// kTimedOut with "<what> within N ms" when the deadline passes; kError with
// the system's text for operation otherwise.
SocketResult AwaitReady(int fd, short events, Clock::time_point deadline, Milliseconds limit,
                        const char* operation, const char* what, std::string& error) {
  int ready = WaitFor(fd, events, deadline);
  if (ready > 0) return SocketResult::kOk;
  if (ready == 0) {
    error = std::string(what) + " within " + std::to_string(limit.count()) + " ms";
    return SocketResult::kTimedOut;
  }
  error = ErrnoText(operation, errno);
  return SocketResult::kError;
}

// One address to try, as the system's resolver gives it.
struct Address {
  sockaddr_storage address{};
  socklen_t length = 0;
  int family = 0;
};

std::mutex g_resolverLock;
NameResolver g_resolver;  // empty: the system's

// The addresses of name at port, in the order to try them: the system's
// answer, or the fixed resolver's numeric addresses.
bool Resolve(const std::string& name, std::uint16_t port, std::vector<Address>& out,
             std::string& error) {
  std::vector<std::string> names{name};
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  {
    std::lock_guard<std::mutex> lock(g_resolverLock);
    if (g_resolver) {
      if (!g_resolver(name, names, error)) return false;
      hints.ai_flags |= AI_NUMERICHOST;
    }
  }
  for (const std::string& each : names) {
    addrinfo* list = nullptr;
    int rc = ::getaddrinfo(each.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (rc != 0) {
      error = rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc);
      return false;
    }
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
      Address& a = out.emplace_back();
      std::memcpy(&a.address, ai->ai_addr, ai->ai_addrlen);
      a.length = ai->ai_addrlen;
      a.family = ai->ai_family;
    }
    ::freeaddrinfo(list);
  }
  return true;
}

}  // namespace

void FixNameResolver(NameResolver resolver) {
  std::lock_guard<std::mutex> lock(g_resolverLock);
  g_resolver = std::move(resolver);
}

struct TcpSocket::Impl {
  int fd = -1;
  bool fresh = false;  // opened by Create and not yet used for a connection attempt
  int family = 0;
};

struct TcpListener::Impl {
  int fd = -1;
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

bool TcpSocket::IsOpen() const { return impl_->fd >= 0; }

bool TcpSocket::Create(std::string& error) {
  Close();
  int family = AF_INET6;
  int fd = OpenStream(family);
  if (fd < 0 && (errno == EAFNOSUPPORT || errno == EPROTONOSUPPORT)) {
    family = AF_INET;
    fd = OpenStream(family);
  }
  if (fd < 0) {
    error = ErrnoText("cannot create a socket", errno);
    return false;
  }
  impl_->fd = fd;
  impl_->family = family;
  impl_->fresh = true;
  return true;
}

SocketResult TcpSocket::Connect(std::string_view host, std::uint16_t port, Milliseconds limit,
                                std::string& error) {
  std::string name(host);
  std::vector<Address> addresses;
  if (!Resolve(name, port, addresses, error)) {
    Close();
    error = "cannot resolve " + name + ": " + error;
    return SocketResult::kError;
  }

  bool timed_out = false;
  error = "no address for " + name;
  for (const Address& a : addresses) {
    int fd;
    if (impl_->fd >= 0 && impl_->fresh && impl_->family == a.family) {
      fd = impl_->fd;
      impl_->fd = -1;
    } else {
      fd = OpenStream(a.family);
      if (fd < 0) {
        error = ErrnoText("cannot create a socket", errno);
        continue;
      }
    }
    int err = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a.address), a.length) != 0) {
      err = errno;
      if (err == EINPROGRESS || err == EINTR) {
        int ready = WaitFor(fd, POLLOUT, Clock::now() + limit);
        if (ready == 0) {
          err = ETIMEDOUT;
          timed_out = true;
        } else if (ready < 0) {
          err = errno;
        } else {
          socklen_t len = sizeof err;
          if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        }
      }
    }
    if (err == 0) {
      Close();
      impl_->fd = fd;
      impl_->family = a.family;
      impl_->fresh = false;
      error.clear();
      return SocketResult::kOk;
    }
    ::close(fd);
    error = ErrnoText(("cannot connect to " + name).c_str(), err);
  }
  Close();
  if (timed_out) {
    error = "no answer from " + name + " within " + std::to_string(limit.count()) + " ms";
    return SocketResult::kTimedOut;
  }
  return SocketResult::kError;
}

SocketResult TcpSocket::SendAll(std::string_view data, Milliseconds limit, std::string& error) {
  if (impl_->fd < 0) {
    error = "socket is not open";
    return SocketResult::kError;
  }
  auto deadline = Clock::now() + limit;
  while (!data.empty()) {
    ssize_t n = ::send(impl_->fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      SocketResult waited =
          AwaitReady(impl_->fd, POLLOUT, deadline, limit, "send", "send did not complete", error);
      if (waited != SocketResult::kOk) return waited;
      continue;
    }
    error = ErrnoText("send", n < 0 ? errno : EIO);
    return SocketResult::kError;
  }
  return SocketResult::kOk;
}

SocketResult TcpSocket::Receive(char* buffer, std::size_t size, Milliseconds limit,
                                std::size_t* received, std::string& error) {
  *received = 0;
  if (impl_->fd < 0) {
    error = "socket is not open";
    return SocketResult::kError;
  }
  auto deadline = Clock::now() + limit;
  for (;;) {
    ssize_t n = ::recv(impl_->fd, buffer, size, 0);
    if (n > 0) {
      *received = static_cast<std::size_t>(n);
      return SocketResult::kOk;
    }
    if (n == 0) return SocketResult::kClosed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      error = ErrnoText("receive", errno);
      return SocketResult::kError;
    }
    SocketResult waited =
        AwaitReady(impl_->fd, POLLIN, deadline, limit, "receive", "nothing received", error);
    if (waited != SocketResult::kOk) return waited;
  }
}

void TcpSocket::Shutdown() {
  if (impl_->fd >= 0) ::shutdown(impl_->fd, SHUT_RDWR);
}

void TcpSocket::Close() {
  if (impl_->fd >= 0) ::close(impl_->fd);
  impl_->fd = -1;
  impl_->fresh = false;
}

bool TcpSocket::LocalAddress(std::string& address, bool& is_ipv6) const {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (impl_->fd < 0 || ::getsockname(impl_->fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
    return false;
  char text[INET6_ADDRSTRLEN] = {};
  if (ss.ss_family == AF_INET) {
    is_ipv6 = false;
    if (!::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&ss)->sin_addr, text, sizeof text))
      return false;
  } else if (ss.ss_family == AF_INET6) {
    is_ipv6 = true;
    if (!::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&ss)->sin6_addr, text, sizeof text))
      return false;
  } else {
    return false;
  }
  address = text;
  return true;
}

TcpListener::TcpListener() : impl_(std::make_unique<Impl>()) {}
TcpListener::~TcpListener() { Close(); }
std::uint16_t TcpListener::Port() const { return impl_->port; }

bool TcpListener::Listen(std::string_view host, std::uint16_t port, std::string& error) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* list = nullptr;
  std::string name(host);
  int rc = ::getaddrinfo(name.empty() ? nullptr : name.c_str(), std::to_string(port).c_str(),
                         &hints, &list);
  if (rc != 0) {
    error = "cannot resolve " + name + ": " + ::gai_strerror(rc);
    return false;
  }
  error = "no address for " + name;
  for (addrinfo* ai = list; ai && impl_->fd < 0; ai = ai->ai_next) {
    int fd = OpenStream(ai->ai_family);
    if (fd < 0) {
      error = ErrnoText("cannot create a socket", errno);
      continue;
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
      error = ErrnoText(("cannot listen on " + name + ":" + std::to_string(port)).c_str(), errno);
      ::close(fd);
      continue;
    }
    impl_->fd = fd;
  }
  ::freeaddrinfo(list);
  if (impl_->fd < 0) return false;

  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  ::getsockname(impl_->fd, reinterpret_cast<sockaddr*>(&ss), &len);
  impl_->port = ntohs(ss.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                                               : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
  error.clear();
  return true;
}

SocketResult TcpListener::Accept(TcpSocket& connection, Milliseconds limit, std::string& error) {
  if (impl_->fd < 0) {
    error = "not listening";
    return SocketResult::kError;
  }
  auto deadline = Clock::now() + limit;
  for (;;) {
    int fd = ::accept4(impl_->fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      TcpSocket accepted;
      accepted.impl_->fd = fd;
      connection = std::move(accepted);
      return SocketResult::kOk;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      error = ErrnoText("accept", errno);
      return SocketResult::kError;
    }
    SocketResult waited =
        AwaitReady(impl_->fd, POLLIN, deadline, limit, "accept", "no connection", error);
    if (waited != SocketResult::kOk) return waited;
  }
}

void TcpListener::Interrupt() {
  // On Linux, shutting a listening socket down wakes poll and makes accept fail.
  if (impl_->fd >= 0) ::shutdown(impl_->fd, SHUT_RDWR);
}

void TcpListener::Close() {
  if (impl_->fd >= 0) ::close(impl_->fd);
  impl_->fd = -1;
  impl_->port = 0;
}

}  // namespace zentrova::platform

namespace zentrova::platform::system {

bool HostName(std::string& name) {
  char buffer[256] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return false;
  name = buffer;
  return !name.empty();
}

bool CanonicalName(const std::string& name, std::string& canonical) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) return false;
  canonical = list->ai_canonname ? list->ai_canonname : "";
  ::freeaddrinfo(list);
  return !canonical.empty();
}

}  // namespace zentrova::platform::system
