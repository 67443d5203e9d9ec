// Resources are the module's own resource section: FindResource and
// LoadResource on the file loaded as data only, so nothing of it runs.
#include "platform/resource.h"

#include <windows.h>

#include "platform/ole_text.h"
#include "platform/win32/handles.h"

namespace zentrova::platform {
namespace {

// A module loaded as a data file: FreeLibrary. The path is UTF-8, opened
// through the wide call, so that a folder outside the ANSI code page works.
class DataModule {
 public:
  explicit DataModule(const std::string& path) {
    OleString wide;
    if (Utf8ToOle(path, wide))
      h_ = LoadLibraryExW(wide.c_str(), nullptr,
                          LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    else
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
  }
  ~DataModule() {
    if (h_) FreeLibrary(h_);
  }
  DataModule(const DataModule&) = delete;
  DataModule& operator=(const DataModule&) = delete;
  HMODULE get() const { return h_; }

 private:
  HMODULE h_ = nullptr;
};

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

}  // namespace

bool LoadModuleResource(const std::string& path, std::string_view type, unsigned number,
                        std::string& data, std::string* error) {
  DataModule module(path);
  if (!module.get())
    return Fail(error, "cannot open " + path + ": " + win32::ErrorText(GetLastError()));
  std::string typeName(type);
  HRSRC found = FindResourceA(module.get(), MAKEINTRESOURCEA(number), typeName.c_str());
  if (!found)
    return Fail(error, path + " holds no resource " + typeName + " " + std::to_string(number));
  HGLOBAL loaded = LoadResource(module.get(), found);  // owned by the module, not freed
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  DWORD size = SizeofResource(module.get(), found);
  if (!bytes)
    return Fail(error, "cannot read resource " + typeName + " " + std::to_string(number) + " of " +
                           path + ": " + win32::ErrorText(GetLastError()));
  data.assign(static_cast<const char*>(bytes), size);
  return true;
}

std::string ModulePathOf(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(address), &module))
    return {};
  // Read wide and kept as UTF-8: the ANSI code page cannot hold every folder
  // name (C:\Users\José\kit, a Polish or Greek one on a Western system).
  std::wstring wide;
  std::string path;
  return win32::ModulePathWide(module, wide) && OleToUtf8(wide, path) ? path : std::string();
}

}  // namespace zentrova::platform
