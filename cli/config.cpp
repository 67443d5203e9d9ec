#include "cli/config.h"

#include <string_view>

#include "cli/pagora.h"
#include "platform/codepage.h"
#include "platform/config_files.h"
#include "platform/profile.h"
#include "platform/wipe.h"

namespace zentrova::cli {
namespace {

using platform::Profile;

// The host of a proxy "Server" with a scheme or a port written into it, which
// the transport would wrap in its own scheme and port.
std::string_view BareHost(std::string_view server) {
  if (std::size_t scheme = server.find("://"); scheme != std::string_view::npos)
    server.remove_prefix(scheme + 3);
  std::size_t colon = server.find(':', server.starts_with('[') ? server.find(']') : 0);
  return server.substr(0, colon);
}

class Reader {
 public:
  Reader(std::string_view bytes, const std::string& path, ConfigurationReport& report)
      : profile_(bytes), utf8_(platform::IsUtf8(bytes)), path_(path), report_(report) {}

  std::string Name(const char* section, const char* key) const {
    return std::string("[") + section + "] " + key + " in " + path_;
  }

  // The value as the file has it, or nothing; a value holding NUL is an error.
  bool Raw(const char* section, const char* key, std::string& value) {
    switch (profile_.Find(section, key, value)) {
      case Profile::Lookup::kFound:
        return true;
      case Profile::Lookup::kHoldsNul:
        report_.errors.push_back(Name(section, key) +
                                 " holds a NUL byte, which would end the value there; remove it");
        return false;
      case Profile::Lookup::kMissing:
        break;
    }
    return false;
  }

  // Reads one text key into buffer in the ANSI code page. A value too long for
  // its buffer is named in a warning rather than cut silently.
  void Text(const char* section, const char* key, char* buffer, std::size_t size) {
    std::string raw, text;
    platform::WipeOnExit wipeRaw(raw), wipeText(text);  // a password among them
    if (!Raw(section, key, raw)) return;
    bool lossy = false;
    if (!utf8_) {
      text = raw;
    } else if (!platform::Utf8ToAnsi(raw, text, &lossy)) {
      report_.errors.push_back(Name(section, key) + " cannot be converted to code page " +
                               std::to_string(platform::AnsiCodePage()));
      return;
    }
    if (lossy) lossyKeys_ += (lossyKeys_.empty() ? "" : ", ") + std::string(key);
    if (text.size() >= size) {
      report_.warnings.push_back(Name(section, key) + " is longer than " +
                                 std::to_string(size - 1) + " bytes; only its first " +
                                 std::to_string(size - 1) + " are used");
      text.resize(size - 1);
    }
    text.copy(buffer, text.size());
    buffer[text.size()] = '\0';
  }

  // A proxy the transport could not use is refused here, where the keys that
  // need changing can be named.
  void CheckProxy(int& port) {
    std::string server, portText;
    Raw("PROXY", "Server", server);
    if (std::string_view host = BareHost(server); host != server)
      report_.errors.push_back(Name("PROXY", "Server") + " is \"" + Shown(server, 64) +
                               "\": give the proxy's host name or address alone, without a "
                               "scheme or a port (Server=" +
                               Shown(host, 64) + ", and the port as Port=)");
    if (!Raw("PROXY", "Port", portText)) {
      report_.errors.push_back(Name("PROXY", "Port") +
                               " is missing: give the proxy's port, a number from 1 to 65535 "
                               "(for example Port=3128)");
      return;
    }
    port = platform::ProfileInt(portText);
    if (port < 1 || port > 65535)
      report_.errors.push_back(Name("PROXY", "Port") + " is \"" + Shown(portText, 24) +
                               "\": give the proxy's port, a number from 1 to 65535");
  }

  void WarnLossy() {
    if (lossyKeys_.empty()) return;
    report_.warnings.push_back("code page " + std::to_string(platform::AnsiCodePage()) +
                               " cannot hold some characters of " + lossyKeys_ + " in " + path_ +
                               "; they are sent as \"?\" (" + platform::CodePageChoice() + ")");
  }

 private:
  Profile profile_;
  bool utf8_;
  const std::string& path_;
  ConfigurationReport& report_;
  std::string lossyKeys_;
};

}  // namespace

std::vector<std::string> ConfigurationCandidates(const std::string& programFolder) {
  // The usage text says "Pagora.ini"; the system decides which spellings match.
  return platform::ConfigFilePlaces(programFolder, "pagora", "pagora.ini");
}

void ParseConfiguration(std::string_view bytes, const std::string& path, Configuration& config,
                        ConfigurationReport& report) {
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    report.errors.push_back(path + " is saved as UTF-16; save it as UTF-8 or in code page " +
                            std::to_string(platform::AnsiCodePage()));
    return;
  }
  Reader read(bytes, path, report);
  read.Text("CONFIG", "AccountId", config.accountId, sizeof config.accountId);
  read.Text("CONFIG", "Password", config.password, sizeof config.password);
  read.Text("CONFIG", "Email", config.email, sizeof config.email);
  read.Text("PROXY", "Server", config.proxyServer, sizeof config.proxyServer);
  read.Text("PROXY", "Username", config.proxyUserName, sizeof config.proxyUserName);
  read.Text("PROXY", "Password", config.proxyPassword, sizeof config.proxyPassword);
  if (config.proxyServer[0]) read.CheckProxy(config.proxyPort);
  read.WarnLossy();
}

void ReadConfiguration(const std::string& programFolder, Configuration& config,
                       ConfigurationReport& report) {
  config = Configuration{};
  platform::ProfileFile file;
  std::string error;
  for (const auto& candidate : ConfigurationCandidates(programFolder)) {
    switch (platform::LoadProfileFile(candidate, file, error)) {
      case platform::ProfileLoad::kMissing:
        continue;
      case platform::ProfileLoad::kFailed:
        config.path = candidate;
        report.warnings.push_back(error);
        return;
      case platform::ProfileLoad::kRead:
        break;
    }
    config.path = candidate;
    break;
  }
  if (config.path.empty()) return;
  platform::WipeOnExit wipeFile(file.bytes);  // the passwords are in it
  ParseConfiguration(file.bytes, config.path, config, report);
  if ((config.password[0] || config.proxyPassword[0]) && file.othersCanRead)
    report.warnings.push_back(config.path +
                              " holds a password and users other than its owner can read it; "
                              "make it private with: chmod 600 " +
                              config.path);
}

}  // namespace zentrova::cli
