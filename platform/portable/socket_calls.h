// The few socket calls that differ between the systems' socket interfaces,
// below the connection logic that portable/socket.cpp writes once: each
// system's socket adapter (posix/socket.cpp, win32/socket.cpp) defines them,
// and nothing above the adapters includes this header.
//
// A socket is a number to this layer (a descriptor, or a Winsock SOCKET), and
// an error is the system's own number, told apart by the calls below only.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

struct sockaddr;  // the system's, as its socket headers declare it

namespace zentrova::platform::system {

using Clock = std::chrono::steady_clock;

using Socket = std::uintptr_t;
// -1 as a descriptor and INVALID_SOCKET alike.
inline constexpr Socket kNoSocket = ~Socket{0};

// One address to try, as the system's resolver gives it.
struct Address {
  alignas(8) unsigned char bytes[128] = {};  // the system's socket address
  int length = 0;
  int family = 0;
};

// The address as the system's calls take it.
inline const ::sockaddr* SystemAddress(const Address& a) {
  return reinterpret_cast<const ::sockaddr*>(a.bytes);
}

// Adds one of the resolver's answers to out.
inline void AddAddress(std::vector<Address>& out, const void* raw, std::size_t length, int family) {
  Address& a = out.emplace_back();
  length = std::min(length, sizeof a.bytes);
  std::memcpy(a.bytes, raw, length);
  a.length = static_cast<int>(length);
  a.family = family;
}

// What one non-blocking call did: kDone (count bytes moved; 0 from Receive
// is the peer's orderly close), kAgain to call it again at once, kWait for
// the socket to become ready, kFailed with the system's error number.
struct Step {
  enum Kind { kDone, kAgain, kWait, kFailed } kind;
  std::size_t count = 0;
  int error = 0;
};

// The address families a socket is first opened with, and then instead.
extern const int kPreferredFamily;
extern const int kFallbackFamily;

// A new non-blocking, non-inherited stream socket (0), or the error.
int OpenStream(int family, Socket& s);
// Whether OpenStream's error means the system has no such family.
bool FamilyMissing(int error);
void CloseStream(Socket s);

// The calling thread's last error.
int LastError();
// The system's text for an error number.
std::string ErrorText(int error);
// The number a connection attempt reports when its time ran out.
extern const int kTimedOutError;

// The addresses of host at port (numeric: host must be an address; passive:
// addresses to listen on, every one when host is empty). False with the
// resolver's reason when it has none.
bool Lookup(const std::string& host, std::uint16_t port, bool numeric, bool passive,
            std::vector<Address>& out, std::string& reason);

// Waits until s is ready to read (or accept), to write (or has connected), or
// has failed to connect. 1 ready, 0 time-out, -1 failure (LastError).
int WaitFor(Socket s, bool write, Clock::time_point deadline);

Step Connect(Socket s, const Address& address);  // kDone, kWait while under way
int ConnectError(Socket s);                      // how the connection under way ended
Step Send(Socket s, std::string_view data);
Step Receive(Socket s, char* buffer, std::size_t size);
Step Accept(Socket listener, Socket& accepted);
void Shutdown(Socket s);

// Binds s to address and listens (0), or the error.
int Listen(Socket s, const Address& address);
// This end of s: its numeric address (address and is_ipv6 may be null) and port.
bool LocalEnd(Socket s, std::string* address, bool* is_ipv6, std::uint16_t& port);
// Wakes a thread waiting in Accept on listener, which then fails; may take
// the listener from its owner (closing it) where the system wakes no other way.
void WakeListener(std::atomic<Socket>& listener);

// The machine's host name, and the canonical name of a host name, for the
// test hook in portable/host_names.cpp.
bool HostName(std::string& name);
bool CanonicalName(const std::string& name, std::string& canonical);

}  // namespace zentrova::platform::system
