#include "gateway/endpoints.h"

namespace zentrova::gateway {

namespace {
// Placeholders: the provider's real hosts are set in the registry.
constexpr const char* kDefaultServer1 = "sms1.zentrova.example";
constexpr const char* kDefaultServer2 = "sms2.zentrova.example";
constexpr const char* kDefaultMailbox = "sms@zentrova.example";
constexpr unsigned long kServerReadLimit = 254;
constexpr unsigned long kMailboxReadLimit = 63;

// The settings key under each root, in the order their values count.
constexpr platform::RegistryRoot kRoots[] = {platform::RegistryRoot::kCurrentUser,
                                             platform::RegistryRoot::kLocalMachine};
struct SettingsKeys {
  platform::RegistryKey key[2];
  bool Any() const { return key[0].IsOpen() || key[1].IsOpen(); }
};

// A settings key that is missing gives the defaults; one the registry refuses
// to read (a hive others may change, or one beyond its bounds) stops the send,
// since its values could name any server.
bool OpenSettings(SettingsKeys& keys, std::string& error) {
  for (std::size_t i = 0; i < 2; ++i) {
    platform::RegistryStatus result = keys.key[i].Open(kRoots[i], kSettingsKey);
    if (result.code == platform::kErrorAccessDenied || result.code == platform::kErrorBadDatabase) {
      error = result.message;
      return false;
    }
  }
  return true;
}

// Reads name, at most readLimit bytes with the terminator: the first value
// that is not empty, the current user's before the local machine's, or an
// empty one when that is all there is. found is false when neither key holds
// the value. An over-long value returns false with error naming it: cutting
// it would send elsewhere than the administrator meant.
bool ReadSetting(const SettingsKeys& keys, const char* name, unsigned long readLimit,
                 std::string& value, std::string& from, bool& found, std::string& error) {
  found = false;
  for (std::size_t i = 0; i < 2; ++i) {
    if (!keys.key[i].IsOpen()) continue;
    // One byte more than the room given: a value stored without a terminator
    // (a binary one) still ends.
    std::string buffer(readLimit + 1, '\0');
    unsigned long size = readLimit;
    long result = keys.key[i].QueryValue(name, buffer.data(), &size);
    const std::string place =
        std::string(name) + " under " + platform::RegistryRootName(kRoots[i]) + "\\" + kSettingsKey;
    if (result == platform::kErrorMoreData) {
      error = place + " is " + std::to_string(size - 1) + " bytes long, over its limit of " +
              std::to_string(readLimit - 1) + "; shorten it";
      return false;
    }
    if (result != 0) continue;
    found = true;
    value = buffer.c_str();
    from = place;
    if (!value.empty()) break;
  }
  return true;
}

}  // namespace

long ReadRegistryString(platform::RegistryRoot root, const char* keyPath, const char* valueName,
                        char* buffer, unsigned long readLimit) {
  platform::RegistryKey key;
  if (long error = key.Open(root, keyPath ? keyPath : "").code) {
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

std::optional<GatewayServerNames> ReadGatewayServers(GatewayServers which, std::string& error) {
  // One opening of each key (one read of each hive) for both names.
  SettingsKeys keys;
  bool ok = OpenSettings(keys, error);
  // Nothing is kept from an earlier read: a value deleted since then gives
  // the default, so a long-running server never sends to a name the
  // registry no longer holds.
  GatewayServerNames names;
  if (ok && keys.Any()) {
    std::string value, from, unused;
    bool found = false;
    ok = ReadSetting(keys, "HTTP1", kServerReadLimit, value, from, found, error);
    if (ok && found) {
      names.primary = value;
      names.primaryFrom = from;
    }
    if (ok && which == GatewayServers::kBoth) {
      ok = ReadSetting(keys, "HTTP2", kServerReadLimit, value, unused, found, error);
      if (ok && found) names.secondary = value;
    }
  }
  if (names.primary.empty()) {
    names.primary = kDefaultServer1;
    names.primaryFrom = kBuiltInDefault;
  }
  if (names.secondary.empty()) names.secondary = kDefaultServer2;
  if (!ok) return std::nullopt;
  return names;
}

std::optional<std::string> ReadGatewayMailbox(std::string& error) {
  SettingsKeys keys;
  if (!OpenSettings(keys, error)) return std::nullopt;
  std::string value, from;
  bool found = false;
  if (!ReadSetting(keys, "DebugGateway", kMailboxReadLimit, value, from, found, error))
    return std::nullopt;
  return !value.empty() ? value : std::string(kDefaultMailbox);
}

std::string ReadSettingText(const char* name, unsigned long limit) {
  SettingsKeys keys;
  std::string value, from, error;
  bool found = false;
  if (!OpenSettings(keys, error) || !ReadSetting(keys, name, limit + 1, value, from, found, error))
    return "";
  return value;
}

}  // namespace zentrova::gateway
