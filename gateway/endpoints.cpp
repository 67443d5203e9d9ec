#include "gateway/endpoints.h"

#include <cstring>

namespace zentrova::gateway {

namespace {
// Placeholders: the provider's real hosts are set in the registry.
constexpr const char* kDefaultServer1 = "sms1.zentrova.example";
constexpr const char* kDefaultServer2 = "sms2.zentrova.example";
constexpr unsigned long kServerReadLimit = 254;
}  // namespace

char g_szHttpServer1[256] = {};
char g_szHttpServer2[256] = {};

long ReadRegistryString(platform::RegistryRoot root, const char* keyPath, const char* valueName,
                        char* buffer, unsigned long readLimit) {
  platform::RegistryKey key;
  if (long error = key.Open(root, keyPath ? keyPath : "")) {
    if (buffer) buffer[0] = '\0';
    return error;
  }
  unsigned long size = readLimit;
  if (buffer && key.QueryValue(valueName ? valueName : "", buffer, &size) == 0 &&
      size < readLimit) {
    // A value stored without a terminator (a binary one) must not run into
    // what an earlier, longer value left in the buffer.
    buffer[size] = '\0';
  }
  key.Close();
  return 0;
}

void ReadGatewayServers() {
  ReadRegistryString(platform::RegistryRoot::kCurrentUser, kSettingsKey, "HTTP1", g_szHttpServer1,
                     kServerReadLimit);
  ReadRegistryString(platform::RegistryRoot::kCurrentUser, kSettingsKey, "HTTP2", g_szHttpServer2,
                     kServerReadLimit);
  if (g_szHttpServer1[0] == '\0') std::strcpy(g_szHttpServer1, kDefaultServer1);
  if (g_szHttpServer2[0] == '\0') std::strcpy(g_szHttpServer2, kDefaultServer2);
}

}  // namespace zentrova::gateway
