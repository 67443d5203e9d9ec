// zcom regsvr [/u] [/s] [PATH]: has an in-process server register or unregister
// itself, as regsvr32 does on Windows.
#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/com.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "tools/zcom/zcom.h"

// The install rules set where the server lies relative to zcom's folder.
#ifndef ZV_INSTALLED_SERVER
#define ZV_INSTALLED_SERVER "../lib/zentrova/libZentrovaCOM.so"
#endif

namespace zentrova::zcom {

namespace {

// Why a server's registration may have failed: the server can only return a
// code, so the registry is asked whether it takes a write at all (one that
// changes nothing) and, when it does not, for its reason.
std::string RegistryRefusal() {
  platform::RegistryWriter probe(platform::RegistryRoot::kClassesRoot);
  platform::RegistryStatus status = probe.Commit();
  if (status.ok()) return {};
  return ": the registry refused the write: " + status.message;
}

// regsvr32's statuses, so that scripts written for it read these the same way.
constexpr int kExitCannotLoad = 3;
constexpr int kExitNoEntryPoint = 4;
constexpr int kExitCallFailed = 5;

const char kUsage[] =
    "Usage: zcom regsvr [/u] [/s] [PATH]\n"
    "\n"
    "Loads the in-process server PATH (for example build/com/libZentrovaCOM.so) and\n"
    "calls its DllRegisterServer, or with /u its DllUnregisterServer, which write or\n"
    "remove its keys under HKEY_CLASSES_ROOT in the registry stand-in\n"
    "($ZENTROVA_REGISTRY). /s: no message on success. Without PATH: the server\n"
    "installed with zcom, " ZV_INSTALLED_SERVER
    " from zcom's folder.\n"
    "\n"
    "Exit status: 0 done, 3 PATH cannot be loaded, 4 PATH has no such entry point,\n"
    "5 the entry point reported a failure, 64 wrong command line.\n";

}  // namespace

int RegsvrCommand(int argc, char** argv) {
  bool unregister = false, silent = false;
  const char* path = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (IsSwitch(argv[i], "u")) {
      unregister = true;
    } else if (IsSwitch(argv[i], "s")) {
      silent = true;
    } else if (IsSwitch(argv[i], "-help") || IsSwitch(argv[i], "h") || IsSwitch(argv[i], "?")) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    } else if (argv[i][0] == '-' || (argv[i][0] == '/' && argv[i][1] && !argv[i][2]) || path) {
      std::fprintf(stderr, "zcom regsvr: unexpected argument \"%s\"\n\n%s", argv[i], kUsage);
      return kExitUsage;
    } else {
      path = argv[i];
    }
  }
  // Without a path, the server installed with this zcom: found from zcom's own
  // location, so that an installed tree works wherever it was unpacked.
  std::string installed;
  if (!path) {
    if (!platform::ExecutablePath(installed)) {
      std::fprintf(stderr, "zcom regsvr: cannot tell where zcom is installed; give the PATH\n");
      return kExitCannotLoad;
    }
    installed = installed.substr(0, installed.rfind('/') + 1) + ZV_INSTALLED_SERVER;
    path = installed.c_str();
  }

  // The server records its own full path, so load it by that path.
  char full[PATH_MAX];
  if (!realpath(path, full)) {
    std::fprintf(stderr, "zcom regsvr: %s: no such file%s\n", path,
                 installed.empty() ? "" : " (no server is installed beside zcom; give its PATH)");
    return kExitCannotLoad;
  }
  void* handle = dlopen(full, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    std::fprintf(stderr, "zcom regsvr: cannot load %s: %s\n", full,
                 reason ? reason : "unknown reason");
    return kExitCannotLoad;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto function = reinterpret_cast<HRESULT (*)()>(dlsym(handle, entry));
  int status = kExitOk;
  if (!function) {
    std::fprintf(stderr, "zcom regsvr: %s was loaded, but its entry point %s was not found\n", full,
                 entry);
    status = kExitNoEntryPoint;
  } else if (HRESULT hr = function(); FAILED(hr)) {
    std::fprintf(stderr, "zcom regsvr: %s in %s failed with 0x%08X%s\n", entry, full,
                 static_cast<unsigned>(hr), RegistryRefusal().c_str());
    status = kExitCallFailed;
  } else if (!silent) {
    std::printf("%s in %s succeeded.\n", entry, full);
  }
  dlclose(handle);
  return status;
}

}  // namespace zentrova::zcom
