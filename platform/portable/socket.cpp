// TcpSocket and TcpListener, written once over the few calls each system's
// socket adapter answers (portable/socket_calls.h): the address loop, the
// deadlines, the waits, the accept loop and the test resolver. Sockets are
// non-blocking underneath and every wait is bounded by the caller's limit, so
// no call blocks longer than it was allowed to.
#include "platform/socket.h"

#include <mutex>
#include <utility>

#include "platform/portable/socket_calls.h"

namespace zentrova::platform {
namespace {

using system::Clock;
using system::kNoSocket;
using system::Step;

std::string SystemText(const std::string& what, int error) {
  return what + ": " + system::ErrorText(error);
}

// How long a call may wait in all, and when that time is up.
struct Wait {
  Clock::time_point deadline;
  Milliseconds limit;
};

SocketStatus Failed(std::string message) { return {SocketResult::kError, std::move(message)}; }

// Waits for s to become ready for a blocked operation. kOk when ready;
// kTimedOut with "<what> within N ms" when the deadline passes; kError with
// the system's text for operation otherwise.
SocketStatus AwaitReady(system::Socket s, bool write, const Wait& wait, const char* operation,
                        const char* what) {
  int ready = system::WaitFor(s, write, wait.deadline);
  if (ready > 0) return {};
  if (ready == 0)
    return {SocketResult::kTimedOut,
            std::string(what) + " within " + std::to_string(wait.limit.count()) + " ms"};
  return Failed(SystemText(operation, system::LastError()));
}

std::mutex g_resolverLock;
NameResolver g_resolver;  // empty: the system's

// The addresses of name at port, in the order to try them: the system's
// answer, or the fixed resolver's numeric addresses.
bool Resolve(const std::string& name, std::uint16_t port, std::vector<system::Address>& out,
             std::string& error) {
  std::vector<std::string> names{name};
  bool numeric = false;
  {
    std::lock_guard<std::mutex> lock(g_resolverLock);
    if (g_resolver) {
      if (!g_resolver(name, names, error)) return false;
      numeric = true;
    }
  }
  for (const std::string& each : names)
    if (!system::Lookup(each, port, numeric, false, out, error)) return false;
  return true;
}

}  // namespace

void FixNameResolver(NameResolver resolver) {
  std::lock_guard<std::mutex> lock(g_resolverLock);
  g_resolver = std::move(resolver);
}

struct TcpSocket::Impl {
  system::Socket s = kNoSocket;
  bool fresh = false;  // opened by Create and not yet used for a connection attempt
  int family = 0;
};

struct TcpListener::Impl {
  std::atomic<system::Socket> s{kNoSocket};  // Interrupt may take it from another thread
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

bool TcpSocket::IsOpen() const { return impl_->s != kNoSocket; }

SocketStatus TcpSocket::Create() {
  Close();
  int family = system::kPreferredFamily;
  system::Socket s = kNoSocket;
  int err = system::OpenStream(family, s);
  if (err != 0 && system::FamilyMissing(err)) {
    family = system::kFallbackFamily;
    err = system::OpenStream(family, s);
  }
  if (err != 0) return Failed(SystemText("cannot create a socket", err));
  impl_->s = s;
  impl_->family = family;
  impl_->fresh = true;
  return {};
}

SocketStatus TcpSocket::Connect(std::string_view host, std::uint16_t port, Milliseconds limit) {
  std::string name(host);
  std::vector<system::Address> addresses;
  std::string error;
  if (!Resolve(name, port, addresses, error)) {
    Close();
    return Failed("cannot resolve " + name + ": " + error);
  }

  bool timed_out = false;
  error = "no address for " + name;
  for (const system::Address& a : addresses) {
    system::Socket s = kNoSocket;
    if (impl_->s != kNoSocket && impl_->fresh && impl_->family == a.family) {
      s = std::exchange(impl_->s, kNoSocket);
    } else if (int err = system::OpenStream(a.family, s)) {
      error = SystemText("cannot create a socket", err);
      continue;
    }
    Step step = system::Connect(s, a);
    int err = step.kind == Step::kDone ? 0 : step.error;
    if (step.kind == Step::kWait) {
      int ready = system::WaitFor(s, true, Clock::now() + limit);
      if (ready == 0) {
        err = system::kTimedOutError;
        timed_out = true;
      } else {
        err = ready < 0 ? system::LastError() : system::ConnectError(s);
      }
    }
    if (err == 0) {
      Close();
      impl_->s = s;
      impl_->family = a.family;
      impl_->fresh = false;
      return {};
    }
    system::CloseStream(s);
    error = SystemText("cannot connect to " + name, err);
  }
  Close();
  if (timed_out)
    return {SocketResult::kTimedOut,
            "no answer from " + name + " within " + std::to_string(limit.count()) + " ms"};
  return Failed(error);
}

SocketStatus TcpSocket::SendAll(std::string_view data, Milliseconds limit) {
  if (impl_->s == kNoSocket) return Failed("socket is not open");
  const Wait wait{Clock::now() + limit, limit};
  while (!data.empty()) {
    Step step = system::Send(impl_->s, data);
    if (step.kind == Step::kDone) {
      data.remove_prefix(step.count);
    } else if (step.kind == Step::kWait) {
      SocketStatus waited = AwaitReady(impl_->s, true, wait, "send", "send did not complete");
      if (!waited.ok()) return waited;
    } else if (step.kind == Step::kFailed) {
      return Failed(SystemText("send", step.error));
    }
  }
  return {};
}

SocketStatus TcpSocket::Receive(char* buffer, std::size_t size, Milliseconds limit,
                                std::size_t& received) {
  received = 0;
  if (impl_->s == kNoSocket) return Failed("socket is not open");
  const Wait wait{Clock::now() + limit, limit};
  for (;;) {
    Step step = system::Receive(impl_->s, buffer, size);
    if (step.kind == Step::kDone) {
      received = step.count;
      if (step.count == 0) return {SocketResult::kClosed, {}};
      return {};
    }
    if (step.kind == Step::kFailed) return Failed(SystemText("receive", step.error));
    if (step.kind == Step::kWait) {
      SocketStatus waited = AwaitReady(impl_->s, false, wait, "receive", "nothing received");
      if (!waited.ok()) return waited;
    }
  }
}

void TcpSocket::Shutdown() {
  if (impl_->s != kNoSocket) system::Shutdown(impl_->s);
}

void TcpSocket::Close() {
  if (impl_->s != kNoSocket) system::CloseStream(std::exchange(impl_->s, kNoSocket));
  impl_->fresh = false;
}

bool TcpSocket::LocalAddress(std::string& address, bool& is_ipv6) const {
  std::uint16_t port = 0;
  return impl_->s != kNoSocket && system::LocalEnd(impl_->s, &address, &is_ipv6, port);
}

TcpListener::TcpListener() : impl_(std::make_unique<Impl>()) {}
TcpListener::~TcpListener() { Close(); }

std::uint16_t TcpListener::Port() const { return impl_->port; }

SocketStatus TcpListener::Listen(std::string_view host, std::uint16_t port) {
  Close();
  std::string name(host);
  std::vector<system::Address> addresses;
  std::string error;
  if (!system::Lookup(name, port, false, true, addresses, error))
    return Failed("cannot resolve " + name + ": " + error);
  error = "no address for " + name;
  for (const system::Address& a : addresses) {
    system::Socket s = kNoSocket;
    if (int err = system::OpenStream(a.family, s)) {
      error = SystemText("cannot create a socket", err);
      continue;
    }
    if (int err = system::Listen(s, a)) {
      error = SystemText("cannot listen on " + name + ":" + std::to_string(port), err);
      system::CloseStream(s);
      continue;
    }
    impl_->s = s;
    system::LocalEnd(s, nullptr, nullptr, impl_->port);
    return {};
  }
  return Failed(error);
}

SocketStatus TcpListener::Accept(TcpSocket& connection, Milliseconds limit) {
  if (impl_->s == kNoSocket) return Failed("not listening");
  const Wait wait{Clock::now() + limit, limit};
  for (;;) {
    // Read anew each time: where Interrupt closes the listener, the next call fails.
    const system::Socket listener = impl_->s;
    system::Socket accepted = kNoSocket;
    Step step = system::Accept(listener, accepted);
    if (step.kind == Step::kDone) {
      connection.Close();
      connection.impl_->s = accepted;
      return {};
    }
    if (step.kind == Step::kFailed) return Failed(SystemText("accept", step.error));
    if (step.kind == Step::kWait) {
      SocketStatus waited = AwaitReady(listener, false, wait, "accept", "no connection");
      if (!waited.ok()) return waited;
    }
  }
}

void TcpListener::Interrupt() { system::WakeListener(impl_->s); }

void TcpListener::Close() {
  system::Socket s = impl_->s.exchange(kNoSocket);
  if (s != kNoSocket) system::CloseStream(s);
  impl_->port = 0;
}

}  // namespace zentrova::platform
