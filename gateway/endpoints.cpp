#include "gateway/endpoints.h"

namespace zentrova::gateway {

namespace {
// Placeholders: the provider's real hosts are set in the registry.
constexpr const char* kDefaultServer1 = "sms1.zentrova.example";
constexpr const char* kDefaultServer2 = "sms2.zentrova.example";
constexpr const char* kDefaultMailbox = "sms@zentrova.example";
constexpr unsigned long kServerReadLimit = 254;
constexpr unsigned long kMailboxReadLimit = 63;

// What the last read found: a key without a value keeps the name read before
// (the default at the first read). Reads come one at a time: the console
// program has one thread and the automation server serializes its sends.
GatewayServerNames g_lastRead;

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

namespace {

// Replaces name with the value when the key holds it, and leaves it as it was
// when not; false, with error, for a value over its limit (see ReadSetting).
bool ReadServerName(const platform::RegistryKey& key, const char* value, std::string& name,
                    std::string& error) {
  char buffer[kServerReadLimit + 2] = {};
  name.copy(buffer, sizeof buffer - 1);
  if (!ReadSetting(key, value, buffer, kServerReadLimit, error)) return false;
  name = buffer;
  return true;
}

}  // namespace

std::optional<GatewayServerNames> ReadGatewayServers(GatewayServers which, std::string& error) {
  // One opening of the key (one read of the hive) for both names.
  platform::RegistryKey key;
  bool found = false;
  bool ok = OpenSettings(key, found, error);
  GatewayServerNames& names = g_lastRead;
  if (!found) {
    names = GatewayServerNames{};
  } else {
    ok = ReadServerName(key, "HTTP1", names.primary, error);
    if (ok && which == GatewayServers::kBoth)
      ok = ReadServerName(key, "HTTP2", names.secondary, error);
  }
  if (names.primary.empty()) names.primary = kDefaultServer1;
  if (names.secondary.empty()) names.secondary = kDefaultServer2;
  if (!ok) return std::nullopt;
  return names;
}

std::optional<std::string> ReadGatewayMailbox(std::string& error) {
  char value[kMailboxReadLimit + 1] = {};
  platform::RegistryKey key;
  bool found = false;
  if (!OpenSettings(key, found, error)) return std::nullopt;
  if (found && !ReadSetting(key, "DebugGateway", value, kMailboxReadLimit, error))
    return std::nullopt;
  return value[0] != '\0' ? std::string(value) : std::string(kDefaultMailbox);
}

}  // namespace zentrova::gateway
