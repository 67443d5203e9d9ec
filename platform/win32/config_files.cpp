// Windows programs keep their settings file beside the program file, and look
// nowhere else.
#include "platform/config_files.h"

#include "platform/process.h"

namespace zentrova::platform {

std::string ProgramFolder() {
  std::string exe;
  if (!ExecutablePath(exe)) return ".";
  std::size_t slash = exe.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  // "C:\Pagora.exe" lives in "C:\", not in the drive's current folder "C:".
  return exe.substr(0, slash == 2 && exe[1] == ':' ? slash + 1 : slash);
}

std::vector<std::string> ConfigFilePlaces(const std::string& programFolder, std::string_view,
                                          std::string_view name) {
  // Windows finds the file whatever the case of its name.
  std::string folder = programFolder;
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return {folder + std::string(name)};
}

}  // namespace zentrova::platform
