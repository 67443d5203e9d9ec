// The Windows side of the name queries written once in portable/names.cpp:
// the Winsock headers, the start-up the resolver needs, and what its errors
// are called. The build puts this folder's copy on that file's include path.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "platform/win32/handles.h"

namespace zentrova::platform::system {

// One Winsock start-up for as long as the object lives: getaddrinfo and
// gethostname need one before any socket exists. rc is WSAStartup's answer.
class ResolverUse {
 public:
  ResolverUse() : rc_(WSAStartup(MAKEWORD(2, 2), &data_)) {}
  ~ResolverUse() {
    if (rc_ == 0) WSACleanup();
  }
  ResolverUse(const ResolverUse&) = delete;
  ResolverUse& operator=(const ResolverUse&) = delete;
  int rc() const { return rc_; }

 private:
  WSADATA data_;
  int rc_;
};

inline std::string ResolverErrorText(int rc) { return win32::ErrorText(static_cast<DWORD>(rc)); }

}  // namespace zentrova::platform::system
