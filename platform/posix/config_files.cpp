#include "platform/config_files.h"

#include <cstdlib>

#include "platform/process.h"

namespace zentrova::platform {
namespace {

std::string UserConfigHome() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') return xdg;
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config";
  return {};
}

}  // namespace

std::string ProgramFolder() {
  std::string exe;
  if (!ExecutablePath(exe)) return ".";
  std::size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string(".")
                                    : (slash == 0 ? std::string("/") : exe.substr(0, slash));
}

std::vector<std::string> ConfigFilePlaces(const std::string& programFolder,
                                          std::string_view application, std::string_view name) {
  std::vector<std::string> out;
  std::string capital(name);
  if (!capital.empty() && capital[0] >= 'a' && capital[0] <= 'z') capital[0] -= 'a' - 'A';
  out.push_back(programFolder + "/" + std::string(name));
  if (capital != name) out.push_back(programFolder + "/" + capital);
  const std::string tail = "/" + std::string(application) + "/" + std::string(name);
  if (std::string home = UserConfigHome(); !home.empty()) out.push_back(home + tail);
  out.push_back("/etc" + tail);
  return out;
}

}  // namespace zentrova::platform
