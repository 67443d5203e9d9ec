// The library's four exports, the only symbols it makes visible. The load and
// unload steps that make and end the module, and the export list itself, are
// per OS (com/posix/, com/win32/).
#include <string>

#include "com/ZentrovaCOM_i.h"
#include "com/module.h"
#include "com/registrar.h"
#include "platform/ole_text.h"
#include "platform/resource.h"

using zentrova::com::CurrentModule;
using zentrova::com::Module;

namespace {

constexpr unsigned kRegistrationScript = 102;  // resource "REGISTRY"

HRESULT RunScript(Module& module, bool install) {
  std::string script;
  if (!zentrova::platform::LoadModuleResource(module.path(), "REGISTRY", kRegistrationScript,
                                              script))
    return E_UNEXPECTED;
  return zentrova::com::RunRegistrationScript(script, install, {{"MODULE", module.path()}});
}

// Registered under our locale, whether or not the file it names still loads.
bool TypeLibraryRegistered() {
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadRegTypeLib(LIBID_ZENTROVACOM, 1, 0, zentrova::com::kTypeLibraryLocale, &lib);
  if (lib) lib->Release();
  return hr != TYPE_E_LIBNOTREGISTERED;
}

HRESULT UnregisterTypeLibrary() {
  return UnRegisterTypeLib(LIBID_ZENTROVACOM, 1, 0, zentrova::com::kTypeLibraryLocale,
                           sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
}

}  // namespace

STDAPI DllCanUnloadNow() {
  Module* module = CurrentModule();
  return !module || module->LockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  Module* module = CurrentModule();
  if (!module) return E_OUTOFMEMORY;
  return module->GetClassObject(clsid, riid, object);
}

// Registration is all or nothing. The type library is loaded, and so checked,
// before anything is written; the registration script's keys are one batch
// that is written whole or not at all; and a step that fails takes back what
// the steps before it did.
STDAPI DllRegisterServer() {
  Module* module = CurrentModule();
  if (!module) return E_OUTOFMEMORY;
  zentrova::platform::OleString path;
  if (!zentrova::platform::Utf8ToOle(module->path(), path)) return E_UNEXPECTED;
  ITypeLib* lib = nullptr;
  if (HRESULT hr = LoadTypeLib(path.data(), &lib); FAILED(hr)) return hr;
  const bool wasRegistered = TypeLibraryRegistered();
  HRESULT hr = RegisterTypeLib(lib, path.data(), nullptr);
  lib->Release();
  if (SUCCEEDED(hr)) hr = RunScript(*module, true);
  if (FAILED(hr) && !wasRegistered) UnregisterTypeLibrary();
  return hr;
}

STDAPI DllUnregisterServer() {
  Module* module = CurrentModule();
  if (!module) return E_OUTOFMEMORY;
  if (HRESULT hr = RunScript(*module, false); FAILED(hr)) return hr;
  // Nothing registered is nothing to undo.
  if (!TypeLibraryRegistered()) return S_OK;
  HRESULT hr = UnregisterTypeLibrary();
  if (FAILED(hr)) RunScript(*module, true);
  return hr;
}
