#include "platform/process.h"

#include <winsock2.h>

#include <cstdlib>
#include <vector>

#include "platform/codepage.h"
#include "platform/http.h"
#include "platform/win32/handles.h"

namespace zentrova::platform {

namespace win32 {

std::string ErrorText(DWORD code, HMODULE module) {
  char* text = nullptr;
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                (module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
  DWORD n = FormatMessageA(flags, module, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string out = n && text ? std::string(text, n) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
    out.pop_back();
  return out;
}

bool ModulePathWide(HMODULE module, std::wstring& path) {
  // Long paths reach 32,767 characters; the first try fits every usual one.
  for (DWORD size = MAX_PATH; size <= 32768; size *= 4) {
    std::vector<wchar_t> buf(size);
    DWORD n = GetModuleFileNameW(module, buf.data(), size);
    if (n == 0) return false;
    if (n < size) {
      path.assign(buf.data(), n);
      return true;
    }
  }
  return false;
}

bool ModulePath(HMODULE module, std::string& path) {
  std::wstring wide;
  bool lossy = false;
  return ModulePathWide(module, wide) &&
         Utf16ToAnsi(
             std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()), path,
             &lossy) &&
         !lossy;
}

}  // namespace win32

bool ExecutablePath(std::string& path) { return win32::ModulePath(nullptr, path); }

bool ChangeCurrentDirectory(const std::string& directory, std::string* message) {
  if (SetCurrentDirectoryA(directory.c_str())) return true;
  if (message) *message = win32::ErrorText(GetLastError());
  return false;
}

bool AnchorEnvironmentPath(const char* name) {
  char value[32768];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  if (n == 0 || n >= sizeof value) return true;  // unset (or too long to be a path)
  char full[32768];
  DWORD m = GetFullPathNameA(value, sizeof full, full, nullptr);
  return m > 0 && m < sizeof full && SetEnvironmentVariableA(name, full);
}

bool ReadFileVersion(FileVersion& version) {
  wchar_t file[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, file, MAX_PATH * 4);
  if (n == 0 || n >= MAX_PATH * 4) return false;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(file, &ignored);
  if (size == 0) return false;  // no version resource
  std::vector<char> block(size);
  if (!GetFileVersionInfoW(file, 0, size, block.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof *info)
    return false;
  version.part[0] = HIWORD(info->dwFileVersionMS);
  version.part[1] = LOWORD(info->dwFileVersionMS);
  version.part[2] = HIWORD(info->dwFileVersionLS);
  version.part[3] = LOWORD(info->dwFileVersionLS);
  return true;
}

ProcessSetup::ProcessSetup() {
  // Winsock is started once for the program; sockets made later start it
  // again on their own, which only counts up.
  WSADATA data;
  int rc = WSAStartup(MAKEWORD(2, 2), &data);
  if (rc != 0) {
    message_ = "Windows Sockets cannot start: " + win32::ErrorText(static_cast<DWORD>(rc));
    return;
  }
  httpReady_ = true;  // owns one Winsock start-up, released by the destructor
  if (!InitialiseHttp(message_)) return;
  ok_ = true;
}

ProcessSetup::~ProcessSetup() {
  if (httpReady_) WSACleanup();
}

}  // namespace zentrova::platform
