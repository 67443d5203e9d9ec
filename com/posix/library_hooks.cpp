// The library's load and unload steps on ELF systems: the dynamic loader runs
// these when the library is mapped and unmapped, where Windows calls DllMain.
#include "com/module.h"
#include "platform/resource.h"

namespace {

__attribute__((constructor)) void OnLibraryLoad() {
  zentrova::com::StartModule(
      zentrova::platform::ModulePathOf(reinterpret_cast<const void*>(&OnLibraryLoad)));
}

__attribute__((destructor)) void OnLibraryUnload() { zentrova::com::EndModule(); }

}  // namespace
