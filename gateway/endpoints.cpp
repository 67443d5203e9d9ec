#include "gateway/endpoints.h"

#include <cstring>

namespace zentrova::gateway {

namespace {
// Placeholders: the provider's real hosts are set in the registry.
constexpr const char* kDefaultServer1 = "sms1.zentrova.example";
constexpr const char* kDefaultServer2 = "sms2.zentrova.example";
constexpr const char* kDefaultMailbox = "sms@zentrova.example";
constexpr unsigned long kServerReadLimit = 254;
constexpr unsigned long kMailboxReadLimit = 63;

char g_szGatewayMailbox[64] = {};

// Reads name from an opened key into buffer, at most readLimit bytes with the
// terminator. A missing value leaves the buffer as it was; an over-long one
// too, and it returns false with error naming it.
bool ReadSetting(const platform::RegistryKey& key, const char* name, char* buffer,
                 unsigned long readLimit, std::string& error) {
  unsigned long size = readLimit;
  long result = key.QueryValue(name, buffer, &size);
  if (result == platform::kErrorMoreData) {
    error = std::string(name) + " under HKEY_CURRENT_USER\\" + kSettingsKey + " is " +
            std::to_string(size - 1) + " bytes long, over its limit of " +
            std::to_string(readLimit - 1) + "; shorten it";
    return false;
  }
  // A value stored without a terminator (a binary one) must not run into
  // what an earlier, longer value left in the buffer.
  if (result == 0 && size < readLimit) buffer[size] = '\0';
  return true;
}

// A settings key that is missing gives the defaults; one the registry refuses
// to read (a hive others may change, or one beyond its bounds) stops the send,
// since its values could name any server.
bool OpenSettings(platform::RegistryKey& key, bool& found, std::string& error) {
  long result = key.Open(platform::RegistryRoot::kCurrentUser, kSettingsKey);
  found = result == 0;
  if (result == platform::kErrorAccessDenied || result == platform::kErrorBadDatabase) {
    error = platform::RegistryErrorText();
    return false;
  }
  return true;
}

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
    buffer[size] = '\0';  // as in ReadSetting
  }
  key.Close();
  return 0;
}

bool ReadGatewayServers(GatewayServers which, std::string& error) {
  // One opening of the key (one read of the hive) for both names.
  platform::RegistryKey key;
  bool found = false;
  bool ok = OpenSettings(key, found, error);
  if (!found) {
    g_szHttpServer1[0] = '\0';
    g_szHttpServer2[0] = '\0';
  } else {
    ok = ReadSetting(key, "HTTP1", g_szHttpServer1, kServerReadLimit, error);
    if (ok && which == GatewayServers::kBoth)
      ok = ReadSetting(key, "HTTP2", g_szHttpServer2, kServerReadLimit, error);
  }
  if (g_szHttpServer1[0] == '\0') std::strcpy(g_szHttpServer1, kDefaultServer1);
  if (g_szHttpServer2[0] == '\0') std::strcpy(g_szHttpServer2, kDefaultServer2);
  return ok;
}

const char* ReadGatewayMailbox(std::string& error) {
  std::strcpy(g_szGatewayMailbox, kDefaultMailbox);
  char value[64] = {};
  platform::RegistryKey key;
  bool found = false;
  if (!OpenSettings(key, found, error)) return nullptr;
  if (found && !ReadSetting(key, "DebugGateway", value, kMailboxReadLimit, error)) return nullptr;
  if (value[0] != '\0') std::memcpy(g_szGatewayMailbox, value, sizeof value);
  return g_szGatewayMailbox;
}

}  // namespace zentrova::gateway
