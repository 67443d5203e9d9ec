// Where requests go and how the transport reaches the network: the gateway's
// server names and mailbox (built-in defaults, overridable in the registry) and
// the proxy settings of each deliverable.
//
// Every setting is read from the settings key under the current user first
// and, where that key or value is missing, from the same key under the local
// machine: a service or a scheduled task under another account has a current
// user of its own, and the administrator reaches it through the machine's key.
#pragma once

#include <optional>
#include <string>

#include "gateway/result.h"  // kSettingUnusable
#include "platform/http.h"
#include "platform/registry.h"

namespace zentrova::gateway {

inline constexpr const char* kSettingsKey = "Software\\Zentrova\\SMS\\3.0\\Settings";

// Opens ROOT\keyPath and reads valueName into buffer, at most readLimit bytes.
// A key that cannot be opened empties the buffer and returns the error code; a
// value that cannot be read leaves the buffer as it was and still returns 0.
long ReadRegistryString(platform::RegistryRoot root, const char* keyPath, const char* valueName,
                        char* buffer, unsigned long readLimit);

// The gateway's server names, as the registry gives them or by default.
struct GatewayServerNames {
  std::string primary;
  std::string secondary;
  // Where primary came from, for a person: "HTTP1 under HKEY_CURRENT_USER\\..."
  // (or HKEY_LOCAL_MACHINE), or kBuiltInDefault.
  std::string primaryFrom;
};
inline constexpr const char* kBuiltInDefault = "the built-in default";

// The primary and secondary gateway servers, re-read before every send (the
// console program reads the primary only). A key without a value keeps the
// name of the process's previous read. An over-long value would send the
// request to the default host instead of the one the administrator named, so
// it makes the read fail with error naming the value and its limit; a hive
// the registry refuses fails it with the registry's reason.
enum class GatewayServers { kPrimary, kBoth };
std::optional<GatewayServerNames> ReadGatewayServers(GatewayServers which, std::string& error);

// A setting's text (TraceFile, say): the current user's value, else the local
// machine's; empty when neither holds one, when it is longer than limit bytes,
// or when a hive is refused.
std::string ReadSettingText(const char* name, unsigned long limit);

// The gateway mailbox for delivery by e-mail (automation server), re-read before
// use; none, with error set, when "DebugGateway" is too long or the hive is refused.
std::optional<std::string> ReadGatewayMailbox(std::string& error);

// How the transport reaches the gateway: directly, by the system's settings,
// or through the given proxy, whose user name and password (when the build
// uses them) answer the proxy's request for authentication. The console
// program sets one for the process at start-up; the automation server makes
// a fresh one for every send from the object's properties.
struct ProxySettings {
  platform::HttpAccess access = platform::HttpAccess::kDirect;
  platform::HttpProxy proxy;
};

}  // namespace zentrova::gateway
