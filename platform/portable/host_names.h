// The system's side of LocalHostName and CanonicalHostName (platform/socket.h):
// each OS's socket adapter answers these two; the test hook in front of them
// is written once, in portable/host_names.cpp.
#pragma once

#include <string>

namespace zentrova::platform::system {

bool HostName(std::string& name);
bool CanonicalName(const std::string& name, std::string& canonical);

}  // namespace zentrova::platform::system
