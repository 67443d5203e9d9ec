// Owners of the Windows handles the adapters hold, one owner per handle, so
// that every path out of a call releases what the call opened.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace zentrova::platform::win32 {

// A handle of kernel object (file, event): CloseHandle.
class KernelHandle {
 public:
  explicit KernelHandle(HANDLE h = nullptr) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~KernelHandle() {
    if (h_) CloseHandle(h_);
  }
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HANDLE h_;
};

// An open registry key: RegCloseKey.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() { Reset(); }
  RegKey(RegKey&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  RegKey& operator=(RegKey&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  HKEY get() const { return h_; }
  HKEY* out() {
    Reset();
    return &h_;
  }
  void Reset() {
    if (h_) RegCloseKey(std::exchange(h_, nullptr));
  }

 private:
  HKEY h_ = nullptr;
};

// The system's text for a Win32 error number, without the line end.
std::string ErrorText(DWORD code, HMODULE module = nullptr);

// The full path of a module (nullptr: the program) in the ANSI code page;
// false when it cannot be told or the code page cannot hold it.
bool ModulePath(HMODULE module, std::string& path);
// The same in UTF-16, as the system holds it: any folder name fits.
bool ModulePathWide(HMODULE module, std::wstring& path);

}  // namespace zentrova::platform::win32
