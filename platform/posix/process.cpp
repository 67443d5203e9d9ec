#include "platform/process.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/codepage.h"
#include "platform/http.h"

namespace zentrova::platform {

bool ExecutablePath(std::string& path) {
  std::vector<char> buf(4096);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= buf.size()) return false;
  path.assign(buf.data(), static_cast<std::size_t>(n));
  return true;
}

bool ChangeCurrentDirectory(const std::string& directory, std::string* message) {
  if (chdir(directory.c_str()) == 0) return true;
  if (message) *message = std::strerror(errno);
  return false;
}

bool AnchorEnvironmentPath(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value || *value == '/') return true;
  std::error_code error;
  std::filesystem::path here = std::filesystem::current_path(error);
  if (error) return false;
  return setenv(name, (here / value).c_str(), 1) == 0;
}

bool ReadFileVersion(FileVersion& version) {
  // The build passes the project's version; an ELF file has no version resource.
  version.part[0] = ZV_VERSION_MAJOR;
  version.part[1] = ZV_VERSION_MINOR;
  version.part[2] = ZV_VERSION_PATCH;
  version.part[3] = ZV_VERSION_TWEAK;
  return true;
}

ProcessSetup::ProcessSetup() {
  // The program holds the account's password and whole requests that carry it:
  // a crash must not leave them in a core file. Not dumpable also keeps other
  // processes of the same user from reading its memory through ptrace or
  // /proc/PID/mem.
  prctl(PR_SET_DUMPABLE, 0L, 0L, 0L, 0L);
  // A LANG naming a locale that is not installed is common and harmless: the
  // C locale remains, whose arguments the code-page layer reads as UTF-8.
  if (!std::setlocale(LC_ALL, "")) std::setlocale(LC_ALL, "C");

  std::string probe;
  if (!Utf16ToAnsi(u"x", probe)) {
    const char* named = std::getenv("ZENTROVA_CODEPAGE");
    message_ = std::string("ZENTROVA_CODEPAGE=") + (named ? named : "") +
               " names no code page this system can convert to (for example 1252 or 1251)";
    return;
  }
  // The HTTP library's global state has one owner, in the HTTP adapter; this
  // only makes it start now, so a failure is reported before anything else.
  if (!InitialiseHttp(message_)) return;
  httpReady_ = true;
  ok_ = true;
}

ProcessSetup::~ProcessSetup() = default;

}  // namespace zentrova::platform
