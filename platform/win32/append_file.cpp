// The trace file on Windows: FILE_APPEND_DATA alone makes every WriteFile go
// to the end of the file, so lines of processes sharing it stay whole.
#include "platform/append_file.h"

#include "platform/win32/handles.h"

namespace zentrova::platform {

AppendFile::~AppendFile() { Close(); }

bool AppendFile::Open(const std::string& path, std::string& error) {
  Close();
  HANDLE h = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = win32::ErrorText(::GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

bool AppendFile::Append(std::string_view line, std::string& error) {
  if (handle_ < 0) {
    error = "the file is not open";
    return false;
  }
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  // A short write (a full disk) is finished, not lost.
  while (!line.empty()) {
    const DWORD chunk = line.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(line.size());
    DWORD written = 0;
    if (!::WriteFile(h, line.data(), chunk, &written, nullptr) || written == 0) {
      error = written == 0 && ::GetLastError() == ERROR_SUCCESS ? "nothing could be written"
                                                                 : win32::ErrorText(::GetLastError());
      return false;
    }
    line.remove_prefix(written);
  }
  return true;
}

void AppendFile::Close() {
  if (handle_ >= 0) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

unsigned long CurrentProcessId() { return ::GetCurrentProcessId(); }

}  // namespace zentrova::platform
