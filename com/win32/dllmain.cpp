// The library's load and unload steps on Windows: the module that every object
// of the process shares is made when the system loads the DLL and destroyed
// when it unloads it. Both run under the loader lock, so they only take the
// DLL's path and allocate: no registry or file work (the trace setting is
// read on the first request for the class object).
#include <windows.h>

#include "com/module.h"
#include "platform/resource.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(instance);
      // A module that cannot be made shows as E_OUTOFMEMORY from the exports;
      // refusing the load would only tell the client that the file is bad.
      zentrova::com::StartModule(
          zentrova::platform::ModulePathOf(reinterpret_cast<const void*>(&DllMain)));
      break;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved not null) the other threads are gone, maybe
      // in the middle of a call holding a lock: the system takes the memory back.
      if (!reserved) zentrova::com::EndModule();
      break;
    default:
      break;
  }
  return TRUE;
}
