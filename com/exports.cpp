// The library's four exports, the only symbols it makes visible. The load and
// unload steps that make and end the module, and the export list itself, are
// per OS (com/posix/, com/win32/).
#include <string>

#include "com/module.h"
#include "com/registrar.h"
#include "com/registration.h"
#include "platform/resource.h"

using zentrova::com::ClassRegisteredInOtherView;
using zentrova::com::CurrentModule;
using zentrova::com::Module;
using zentrova::com::RegisterTypeLibrary;
using zentrova::com::TypeLibraryRegistered;
using zentrova::com::UnregisterTypeLibrary;

namespace {

constexpr unsigned kRegistrationScript = 102;  // resource "REGISTRY"

HRESULT RunScript(Module& module, bool install,
                  zentrova::com::Removal removal = zentrova::com::Removal::kAll) {
  std::string script;
  if (!zentrova::platform::LoadModuleResource(module.path(), "REGISTRY", kRegistrationScript,
                                              script))
    return E_UNEXPECTED;
  return zentrova::com::RunRegistrationScript(script, install, {{"MODULE", module.path()}}, nullptr,
                                              removal);
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
  const bool wasRegistered = TypeLibraryRegistered();
  HRESULT hr = RegisterTypeLibrary(module->path());
  if (SUCCEEDED(hr)) hr = RunScript(*module, true);
  if (FAILED(hr) && !wasRegistered) UnregisterTypeLibrary();
  return hr;
}

// Removes what this DLL's registration wrote. The other bitness's
// registration, when there is one, keeps working: the keys both share stay
// while it uses them. A DLL that is not registered changes nothing.
STDAPI DllUnregisterServer() {
  Module* module = CurrentModule();
  if (!module) return E_OUTOFMEMORY;
  const auto removal = ClassRegisteredInOtherView() ? zentrova::com::Removal::kOwnViewOnly
                                                    : zentrova::com::Removal::kAll;
  if (HRESULT hr = RunScript(*module, false, removal); FAILED(hr)) return hr;
  // Nothing registered is nothing to undo.
  if (!TypeLibraryRegistered()) return S_OK;
  HRESULT hr = UnregisterTypeLibrary();
  if (FAILED(hr)) RunScript(*module, true);
  return hr;
}
