// The system's resolver and host name, asked the same way on every system
// over socket_system.h (the build picks the POSIX or the Windows one): what
// TcpSocket, TcpListener and the host-name hooks ask of it.
#include "platform/portable/socket_calls.h"
#include "socket_system.h"

namespace zentrova::platform::system {

// Every address the system's resolver gives fits the room an Address has.
static_assert(sizeof(sockaddr_storage) <= sizeof(Address::bytes));

bool Lookup(const std::string& host, std::uint16_t port, bool numeric, bool passive,
            std::vector<Address>& out, std::string& reason) {
  ResolverUse use;
  if (use.rc()) {
    reason = "Windows Sockets cannot start: " + ResolverErrorText(use.rc());
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | (numeric ? AI_NUMERICHOST : 0) | (passive ? AI_PASSIVE : 0);
  addrinfo* list = nullptr;
  const char* node = passive && host.empty() ? nullptr : host.c_str();
  if (int rc = ::getaddrinfo(node, std::to_string(port).c_str(), &hints, &list)) {
    reason = ResolverErrorText(rc);
    return false;
  }
  for (const addrinfo* ai = list; ai; ai = ai->ai_next)
    AddAddress(out, ai->ai_addr, ai->ai_addrlen, ai->ai_family);
  ::freeaddrinfo(list);
  return true;
}

bool HostName(std::string& name) {
  ResolverUse use;
  char buffer[256] = {};
  if (use.rc() || ::gethostname(buffer, sizeof buffer - 1) != 0) return false;
  name = buffer;
  return !name.empty();
}

bool CanonicalName(const std::string& name, std::string& canonical) {
  ResolverUse use;
  if (use.rc()) return false;
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
