// The names of the registry's roots, as both the Windows registry and the
// stand-in spell them: one table for every reader, writer and tool.
#include "platform/ascii.h"
#include "platform/registry.h"

namespace zentrova::platform {

bool ParseRegistryRoot(std::string_view name, RegistryRoot& root) {
  if (SameName(name, "HKEY_CURRENT_USER") || SameName(name, "HKCU")) {
    root = RegistryRoot::kCurrentUser;
    return true;
  }
  if (SameName(name, "HKEY_CLASSES_ROOT") || SameName(name, "HKCR")) {
    root = RegistryRoot::kClassesRoot;
    return true;
  }
  if (SameName(name, "HKEY_LOCAL_MACHINE") || SameName(name, "HKLM")) {
    root = RegistryRoot::kLocalMachine;
    return true;
  }
  return false;
}

const char* RegistryRootName(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case RegistryRoot::kLocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case RegistryRoot::kCurrentUser:
      break;
  }
  return "HKEY_CURRENT_USER";
}

}  // namespace zentrova::platform
