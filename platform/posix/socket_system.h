// The POSIX side of the name queries written once in portable/names.cpp:
// the system's socket headers, and what the resolver's errors are called.
// The build puts this folder's copy on that file's include path.
#pragma once

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace zentrova::platform::system {

// POSIX needs no start-up before its resolver is asked.
struct ResolverUse {
  int rc() const { return 0; }
};

inline std::string ResolverErrorText(int rc) {
  return rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc);
}

}  // namespace zentrova::platform::system
