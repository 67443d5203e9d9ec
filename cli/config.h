// pagora.ini: where it is looked for and what is read from it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/wipe.h"

namespace zentrova::cli {

struct Configuration {
  std::string path;  // the file read; empty when none was found
  char accountId[128] = {};
  char password[128] = {};
  char email[128] = {};
  char proxyServer[64] = {};
  char proxyUserName[64] = {};
  char proxyPassword[64] = {};
  int proxyPort = 0;

  // The account and proxy values are wiped once no longer needed, on every
  // path: a core dump or a later reader of the memory finds no password.
  void Forget() {
    platform::WipeBytes(accountId, sizeof accountId);
    platform::WipeBytes(password, sizeof password);
    platform::WipeBytes(email, sizeof email);
    platform::WipeBytes(proxyServer, sizeof proxyServer);
    platform::WipeBytes(proxyUserName, sizeof proxyUserName);
    platform::WipeBytes(proxyPassword, sizeof proxyPassword);
  }
  ~Configuration() { Forget(); }
};

// What reading the file found. Warnings do not stop the run (a value cut to
// its buffer, characters the code page cannot hold, a password readable by
// other users); errors do, since a request built from such a file would not
// say what the user wrote. One line each, naming the key and what to change.
struct ConfigurationReport {
  std::vector<std::string> warnings;
  std::vector<std::string> errors;
};

// The places pagora.ini is looked for, in order: the program's folder first,
// then the places this system keeps settings files (platform/config_files.h).
std::vector<std::string> ConfigurationCandidates(const std::string& programFolder);

// Reads the first candidate that exists, opening it once; none found leaves
// everything empty.
void ReadConfiguration(const std::string& programFolder, Configuration& config,
                       ConfigurationReport& report);

// The keys from the file's bytes. Text that is valid UTF-8 is converted to the
// ANSI code page; any other text is taken to be in that code page already.
void ParseConfiguration(std::string_view bytes, const std::string& path, Configuration& config,
                        ConfigurationReport& report);

}  // namespace zentrova::cli
