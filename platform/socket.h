// A blocking TCP stream: what the SMTP session needs of the operating system's
// sockets, plus a small listener for the sandbox's mailbox and for tests.
//
// Every wait has a time limit given by the caller, and a wait that runs out is
// reported as kTimedOut, distinct from a refused or broken connection. The
// object owns its socket and releases it on Close, on move-assignment and on
// destruction; what the system's handle looks like stays in the adapter.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace zentrova::platform {

using Milliseconds = std::chrono::milliseconds;

enum class SocketResult {
  kOk,
  kTimedOut,  // the time limit ran out first
  kClosed,    // the peer ended the connection in order (receive only)
  kError,     // refused, unreachable, name not found, reset, ...: see the message
};
// Every call below answers with its result and, unless kOk, the system's or
// its own text for it.
using SocketStatus = Status<SocketResult>;

class TcpSocket {
 public:
  TcpSocket();
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Opens a stream socket, so that a process out of sockets fails here
  // before any name is looked up. Connect keeps it for an address of its family
  // and opens a fresh one otherwise.
  SocketStatus Create();

  // Resolves host (a name, a dotted IPv4 address or an IPv6 address) and tries
  // every address it has, in the resolver's order, each for at most limit.
  // Creates the socket itself when Create was not called. kTimedOut only when
  // no address answered at all and at least one of them ran out of time.
  SocketStatus Connect(std::string_view host, std::uint16_t port, Milliseconds limit);

  // Hands all of data to the network, waiting at most limit for room.
  SocketStatus SendAll(std::string_view data, Milliseconds limit);

  // Waits at most limit for data and receives up to size bytes of it into
  // buffer; received is the count (0 unless kOk).
  SocketStatus Receive(char* buffer, std::size_t size, Milliseconds limit, std::size_t& received);

  // Ends both directions of the connection without releasing the socket,
  // which wakes a thread blocked in Receive or SendAll; safe from another thread.
  void Shutdown();
  void Close();
  bool IsOpen() const;

  // The numeric address of this end of a connected socket ("127.0.0.1",
  // "::1"), with is_ipv6 telling which family it is.
  bool LocalAddress(std::string& address, bool& is_ipv6) const;

 private:
  friend class TcpListener;
  struct Impl;
  std::unique_ptr<Impl> impl_;  // never null, also after a move
};

// A listening socket bound to one address of the local machine.
class TcpListener {
 public:
  TcpListener();
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Binds host (a numeric address or a name; empty means every IPv4 address)
  // and port (0: any free port) and starts listening.
  SocketStatus Listen(std::string_view host, std::uint16_t port);
  std::uint16_t Port() const;

  // Waits at most limit for the next connection.
  SocketStatus Accept(TcpSocket& connection, Milliseconds limit);

  // Wakes a thread blocked in Accept (it returns kError) and stops accepting;
  // safe to call from another thread.
  void Interrupt();
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The addresses of a host name as numeric texts ("192.0.2.1", "2001:db8::1"),
// in the order they are to be tried; false, with the reason in error, when it
// has none.
using NameResolver = std::function<bool(const std::string& host,
                                        std::vector<std::string>& addresses, std::string& error)>;

// For tests: TcpSocket::Connect asks resolver for a name's addresses in place
// of the system; an empty one gives the system's resolver back. It is the
// whole process's, so a test sets it before it starts threads that connect.
void FixNameResolver(NameResolver resolver);

// The machine's host name as the system reports it; false when it cannot be read.
bool LocalHostName(std::string& name);
// The canonical name the resolver gives for a host name (from the hosts file
// or DNS, so it may wait for the resolver); false when it gives none.
bool CanonicalHostName(const std::string& name, std::string& canonical);

// For tests: LocalHostName and CanonicalHostName answer from reader (the host
// name, and the canonical name whatever name is asked) in place of the
// system; an empty one gives the system's back. Process-wide, like FixNameResolver.
using HostNamesReader = std::function<bool(std::string& hostName, std::string& canonicalName)>;
void FixLocalHostNames(HostNamesReader reader);

}  // namespace zentrova::platform
