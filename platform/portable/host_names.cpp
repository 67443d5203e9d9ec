// The test hook in front of the host-name queries, over the two calls each
// system's socket adapter answers.
#include <mutex>

#include "platform/portable/socket_calls.h"
#include "platform/socket.h"

namespace zentrova::platform {
namespace {

std::mutex g_hostNamesLock;
HostNamesReader g_hostNames;  // empty: the system's

// Asks the reader fixed by a test; false when none is fixed.
bool FixedHostNames(std::string* hostName, std::string* canonicalName, bool& answer) {
  std::lock_guard<std::mutex> lock(g_hostNamesLock);
  if (!g_hostNames) return false;
  std::string host, canonical;
  answer = g_hostNames(host, canonical);
  if (hostName) *hostName = host;
  if (canonicalName) *canonicalName = canonical;
  if (canonicalName) answer = answer && !canonical.empty();
  return true;
}

}  // namespace

void FixLocalHostNames(HostNamesReader reader) {
  std::lock_guard<std::mutex> lock(g_hostNamesLock);
  g_hostNames = std::move(reader);
}

bool LocalHostName(std::string& name) {
  bool answer = false;
  if (FixedHostNames(&name, nullptr, answer)) return answer;
  return system::HostName(name);
}

bool CanonicalHostName(const std::string& name, std::string& canonical) {
  bool answer = false;
  if (FixedHostNames(nullptr, &canonical, answer)) return answer;
  return !name.empty() && system::CanonicalName(name, canonical);
}

}  // namespace zentrova::platform
