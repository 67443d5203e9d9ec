// A settings file is read through the private-profile API, the way every
// Windows program reads its INI file: section by section, as that API hands
// the lines out (in the ANSI code page, whatever encoding the file has). The
// text is put back together so that the kit's one parser applies its rules to
// what Windows read.
#include "platform/profile.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/win32/handles.h"

namespace zentrova::platform {
namespace {

// A profile is a few lines of settings; anything larger is not one.
constexpr DWORD kMaxProfileBytes = 1 << 20;

// The list of NUL-terminated strings an API call fills, grown until it fits
// (the call then returns less than size - 2). False when it never fits.
template <typename Call>
bool StringList(Call call, std::vector<char>& out) {
  for (DWORD size = 4096; size <= kMaxProfileBytes; size *= 4) {
    out.assign(size, '\0');
    DWORD n = call(out.data(), size);
    if (n < size - 2) {
      out.resize(n);
      return true;
    }
  }
  return false;
}

}  // namespace

ProfileLoad LoadProfileFile(const std::string& path, ProfileFile& file, std::string& error) {
  file = ProfileFile{};
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return ProfileLoad::kMissing;
    error = "cannot read " + path + ": " + win32::ErrorText(code);
    return ProfileLoad::kFailed;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ProfileLoad::kMissing;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
      (data.nFileSizeHigh != 0 || data.nFileSizeLow > kMaxProfileBytes)) {
    error = path + " is larger than " + std::to_string(kMaxProfileBytes) +
            " bytes; a settings file that large is not read";
    return ProfileLoad::kFailed;
  }
  // The API opens the file itself and reads nothing from one it cannot open,
  // so a file that exists but cannot be opened is caught here first.
  win32::KernelHandle probe(CreateFileA(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!probe) {
    error = "cannot read " + path + ": " + win32::ErrorText(GetLastError());
    return ProfileLoad::kFailed;
  }
  std::vector<char> names;
  if (!StringList(
          [&](char* b, DWORD s) { return GetPrivateProfileSectionNamesA(b, s, path.c_str()); },
          names)) {
    error = path + " holds more section names than a settings file has";
    return ProfileLoad::kFailed;
  }
  for (const char* name = names.data(); name < names.data() + names.size() && *name;
       name += std::strlen(name) + 1) {
    std::vector<char> lines;
    if (!StringList(
            [&](char* b, DWORD s) { return GetPrivateProfileSectionA(name, b, s, path.c_str()); },
            lines)) {
      error = "section [" + std::string(name) + "] of " + path + " is too large to be read";
      return ProfileLoad::kFailed;
    }
    file.bytes += "[" + std::string(name) + "]\n";
    for (const char* line = lines.data(); line < lines.data() + lines.size() && *line;
         line += std::strlen(line) + 1)
      file.bytes += std::string(line) + "\n";
  }
  return ProfileLoad::kRead;
}

}  // namespace zentrova::platform
