// pagora.ini: where it is looked for and what is read from it.
#pragma once

#include <string>
#include <vector>

namespace zentrova::cli {

struct Configuration {
  char accountId[128] = {};
  char password[128] = {};
  char email[128] = {};
  char proxyServer[64] = {};
  char proxyUserName[64] = {};
  char proxyPassword[64] = {};
  int proxyPort = 0;
};

// The places pagora.ini is looked for, in order: "pagora.ini" and then
// "Pagora.ini" in programFolder, $XDG_CONFIG_HOME/pagora/pagora.ini (by default
// ~/.config/pagora/pagora.ini), /etc/pagora/pagora.ini.
std::vector<std::string> ConfigurationCandidates(const std::string& programFolder);

// The first candidate that exists, or the empty text.
std::string FindConfigurationFile(const std::string& programFolder);

// Reads the keys from path (a missing file leaves everything empty). Problems a
// user should fix but that do not stop the run (a value cut to its buffer, a
// password readable by other users) are appended to warnings, one line each.
void ReadConfiguration(const std::string& path, Configuration& config,
                       std::vector<std::string>& warnings);

}  // namespace zentrova::cli
