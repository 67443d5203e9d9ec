#include "cli/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/profile.h"

namespace zentrova::cli {
namespace {

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string UserConfigHome() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') return xdg;
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config";
  return {};
}

// Reads one text key into buffer. The value is first read whole, so that a
// value too long for its buffer is named in a warning rather than cut silently.
void ReadText(const std::string& path, const char* section, const char* key, char* buffer,
              std::size_t size, std::vector<std::string>& warnings) {
  char whole[4096];
  std::size_t length = platform::ReadProfileString(section, key, "", whole, sizeof whole, path);
  platform::ReadProfileString(section, key, "", buffer, size, path);
  if (length >= size)
    warnings.push_back(std::string("[") + section + "] " + key + " in " + path +
                       " is longer than " + std::to_string(size - 1) + " bytes; only its first " +
                       std::to_string(size - 1) + " are used");
}

}  // namespace

std::vector<std::string> ConfigurationCandidates(const std::string& programFolder) {
  std::vector<std::string> out;
  // Windows finds "pagora.ini" whatever its case; the usage text says "Pagora.ini".
  out.push_back(programFolder + "/pagora.ini");
  out.push_back(programFolder + "/Pagora.ini");
  if (std::string home = UserConfigHome(); !home.empty())
    out.push_back(home + "/pagora/pagora.ini");
  out.push_back("/etc/pagora/pagora.ini");
  return out;
}

std::string FindConfigurationFile(const std::string& programFolder) {
  for (const auto& candidate : ConfigurationCandidates(programFolder))
    if (IsFile(candidate)) return candidate;
  return {};
}

void ReadConfiguration(const std::string& path, Configuration& config,
                       std::vector<std::string>& warnings) {
  config = Configuration{};
  if (path.empty()) return;
  if (access(path.c_str(), R_OK) != 0) {
    warnings.push_back("cannot read " + path + ": " + std::strerror(errno));
    return;
  }
  ReadText(path, "CONFIG", "AccountId", config.accountId, sizeof config.accountId, warnings);
  ReadText(path, "CONFIG", "Password", config.password, sizeof config.password, warnings);
  ReadText(path, "CONFIG", "Email", config.email, sizeof config.email, warnings);
  ReadText(path, "PROXY", "Server", config.proxyServer, sizeof config.proxyServer, warnings);
  ReadText(path, "PROXY", "Username", config.proxyUserName, sizeof config.proxyUserName, warnings);
  ReadText(path, "PROXY", "Password", config.proxyPassword, sizeof config.proxyPassword, warnings);
  config.proxyPort = platform::ReadProfileInt("PROXY", "Port", 0, path);

  struct stat st;
  if ((config.password[0] || config.proxyPassword[0]) && stat(path.c_str(), &st) == 0 &&
      (st.st_mode & S_IROTH))
    warnings.push_back(path +
                       " holds a password and every user of this machine can read it; make it "
                       "private with: chmod o-r " +
                       path);
}

}  // namespace zentrova::cli
