// Registration with the stand-in runtime: one registry view and one platform,
// so the type library's record goes whole.
#include "com/registration.h"

#include "com/ZentrovaCOM_i.h"
#include "com/module.h"
#include "platform/ole_text.h"

namespace zentrova::com {

bool ClassRegisteredInOtherView() { return false; }

bool TypeLibraryRegistered() {
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadRegTypeLib(LIBID_ZENTROVACOM, 1, 0, kTypeLibraryLocale, &lib);
  if (lib) lib->Release();
  return hr != TYPE_E_LIBNOTREGISTERED;
}

HRESULT RegisterTypeLibrary(const std::string& path) {
  platform::OleString wide;
  if (!platform::Utf8ToOle(path, wide)) return E_UNEXPECTED;
  ITypeLib* lib = nullptr;
  if (HRESULT hr = LoadTypeLib(wide.c_str(), &lib); FAILED(hr)) return hr;
  HRESULT hr = RegisterTypeLib(lib, wide.data(), nullptr);
  lib->Release();
  return hr;
}

HRESULT UnregisterTypeLibrary() {
  return UnRegisterTypeLib(LIBID_ZENTROVACOM, 1, 0, kTypeLibraryLocale, SYS_WIN32);
}

}  // namespace zentrova::com
