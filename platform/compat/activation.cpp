// The COM runtime's part for in-process servers: a class is found through the
// registry stand-in (ProgID, CLSID, InprocServer32), its library loaded once
// per process, its class object asked for, and libraries that report they may
// unload are unloaded again. The runtime's state lives from the first
// CoInitializeEx to the matching CoUninitialize, which unloads every library.
#include <dlfcn.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/compat/extras.h"
#include "platform/ole_text.h"
#include "platform/registry.h"

namespace zentrova::platform {
namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT (*)();

struct LoadedServer {
  std::string path;
  void* handle;
  GetClassObjectFn getClassObject;
  CanUnloadNowFn canUnloadNow;
};

struct Runtime {
  int initializations = 0;
  std::vector<LoadedServer> servers;
};

std::mutex g_mutex;
Runtime* g_runtime = nullptr;
thread_local std::string g_error;

HRESULT Fail(HRESULT hr, std::string text) {
  g_error = std::move(text);
  return hr;
}

// Reads the key's default value. A registry that is refused (not private to the
// user, or unreadable) stops activation with its reason rather than reading as
// "not registered": it is the one that names the library to load.
HRESULT ReadDefault(const std::string& path, std::string& value, bool& found) {
  RegistryKey key;
  std::vector<RegistryValue> values;
  found = false;
  if (RegistryStatus rc = key.Open(RegistryRoot::kClassesRoot, path); !rc.ok())
    return rc.code == kErrorFileNotFound ? S_OK : Fail(HRESULT_FROM_WIN32(rc.code), rc.message);
  key.Values(values);
  for (const RegistryValue& v : values)
    if (v.name.empty()) {
      value = v.data;
      while (!value.empty() && value.back() == '\0') value.pop_back();
      found = !value.empty();
    }
  return S_OK;
}

// The loaded server for path, loading it on first use. Called under g_mutex.
HRESULT Server(const std::string& path, LoadedServer& out) {
  for (const LoadedServer& server : g_runtime->servers)
    if (server.path == path) {
      out = server;
      return S_OK;
    }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    return Fail(HRESULT_FROM_WIN32(126),
                "cannot load " + path + ": " + (reason ? reason : "unknown reason"));
  }
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
  auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow"));
  if (!getClassObject || !canUnloadNow) {
    dlclose(handle);
    return Fail(CO_E_ERRORINDLL, path + " does not export DllGetClassObject and DllCanUnloadNow");
  }
  out = {path, handle, getClassObject, canUnloadNow};
  g_runtime->servers.push_back(out);
  return S_OK;
}

}  // namespace

std::string ActivationErrorText() { return g_error; }

}  // namespace zentrova::platform

using namespace zentrova::platform;

HRESULT CoInitializeEx(void*, DWORD) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_runtime) g_runtime = new Runtime;
  return ++g_runtime->initializations == 1 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_runtime || --g_runtime->initializations > 0) return;
  for (const LoadedServer& server : g_runtime->servers) dlclose(server.handle);
  delete g_runtime;
  g_runtime = nullptr;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
  if (!progId || !clsid) return E_INVALIDARG;
  g_error.clear();
  try {
    std::string name, text;
    if (!OleToUtf8(OleView(progId), name) || name.empty() || name.find('\\') != std::string::npos)
      return Fail(CO_E_CLASSSTRING, "not a ProgID");
    bool found = false;
    if (HRESULT hr = ReadDefault(name + "\\CLSID", text, found); FAILED(hr)) return hr;
    if (!found || !ParseGuid(text, *clsid))
      return Fail(CO_E_CLASSSTRING, "no class is registered for the ProgID " + name);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** object) {
  if (!object) return E_INVALIDARG;
  *object = nullptr;
  g_error.clear();
  try {
    LoadedServer server;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (!g_runtime) return Fail(CO_E_NOTINITIALIZED, "CoInitializeEx has not been called");
      if (!(context & CLSCTX_INPROC_SERVER))
        return Fail(REGDB_E_CLASSNOTREG, "only in-process servers are supported");
      const std::string key = "CLSID\\" + GuidToString(clsid) + "\\InprocServer32";
      std::string path;
      bool found = false;
      if (HRESULT hr = ReadDefault(key, path, found); FAILED(hr)) return hr;
      if (!found)
        return Fail(REGDB_E_CLASSNOTREG,
                    "class " + GuidToString(clsid) + " is not registered (no HKCR\\" + key + ")");
      if (HRESULT hr = Server(path, server); FAILED(hr)) return hr;
    }
    return server.getClassObject(clsid, riid, object);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object) {
  if (!object) return E_INVALIDARG;
  *object = nullptr;
  void* factory = nullptr;
  if (HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, &factory);
      FAILED(hr))
    return hr;
  auto* classFactory = static_cast<IClassFactory*>(factory);
  HRESULT hr = classFactory->CreateInstance(outer, riid, object);
  classFactory->Release();
  return hr;
}

void CoFreeUnusedLibraries() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_runtime) return;
  auto& servers = g_runtime->servers;
  for (size_t i = servers.size(); i-- > 0;) {
    if (servers[i].canUnloadNow() != S_OK) continue;
    dlclose(servers[i].handle);
    servers.erase(servers.begin() + static_cast<std::ptrdiff_t>(i));
  }
}
