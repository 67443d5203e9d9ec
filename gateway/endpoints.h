// Where requests go and how the transport reaches the network: the gateway's
// server names and mailbox (built-in defaults, overridable in the registry of the
// current user) and the proxy settings of each deliverable.
#pragma once

#include <string>

#include "platform/registry.h"

namespace zentrova::gateway {

inline constexpr const char* kSettingsKey = "Software\\Zentrova\\SMS\\3.0\\Settings";

// The gateway settings cannot be used: a registry value too long for its
// buffer, or a settings hive the registry refuses to read. Nothing is sent, and
// the result text names the value and its limit, or the hive and the fix.
inline constexpr int kSettingUnusable = -3;

// Opens ROOT\keyPath and reads valueName into buffer, at most readLimit bytes.
// A key that cannot be opened empties the buffer and returns the error code; a
// value that cannot be read leaves the buffer as it was and still returns 0.
long ReadRegistryString(platform::RegistryRoot root, const char* keyPath, const char* valueName,
                        char* buffer, unsigned long readLimit);

// The primary and secondary gateway servers: process-wide, re-read before every
// send (the console program reads the primary only). An over-long value would
// send the request to the default host instead of the one the administrator
// named, so it makes the read fail with error naming the value and its limit;
// a hive the registry refuses fails it with the registry's reason.
extern char g_szHttpServer1[256];
extern char g_szHttpServer2[256];
enum class GatewayServers { kPrimary, kBoth };
bool ReadGatewayServers(GatewayServers which, std::string& error);

// The gateway mailbox for delivery by e-mail (automation server), re-read before
// use; null, with error set, when "DebugGateway" is too long or the hive is refused.
const char* ReadGatewayMailbox(std::string& error);

// Command-line sender: one process-wide record, set once at start-up.
struct ProxySettings {
  bool useProxy = false;
  int port = 0;
  char address[64] = {};
  char userName[64] = {};
  char password[64] = {};
};
int SetProxyDetails(const char* host, int port, const char* userName, const char* password);
const ProxySettings& CurrentProxySettings();

// Automation server: a fresh record for every send, from the object's properties.
struct ProxyDetails {
  char address[64] = {};
  char userName[64] = {};
  char password[64] = {};
  int proxyType = 0;  // 0 none, 1 the system's settings, 2 the given proxy
  int port = 0;
};
void FillProxyDetails(ProxyDetails& details, int proxyType, int proxyPort, const char* proxyAddress,
                      const char* proxyUserName, const char* proxyPassword);

}  // namespace zentrova::gateway
