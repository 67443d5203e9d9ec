// Resources are the module's own resource section: FindResource and
// LoadResource on the file loaded as data only, so nothing of it runs.
#include "platform/resource.h"

#include <windows.h>

#include "platform/win32/handles.h"

namespace zentrova::platform {
namespace {

// A module loaded as a data file: FreeLibrary.
class DataModule {
 public:
  explicit DataModule(const std::string& path)
      : h_(LoadLibraryExA(path.c_str(), nullptr,
                          LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~DataModule() {
    if (h_) FreeLibrary(h_);
  }
  DataModule(const DataModule&) = delete;
  DataModule& operator=(const DataModule&) = delete;
  HMODULE get() const { return h_; }

 private:
  HMODULE h_;
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
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(address), &module))
    return {};
  std::string path;
  return win32::ModulePath(module, path) ? path : std::string();
}

}  // namespace zentrova::platform
