// The loaded library: the one owner of everything the process shares between
// the server's objects. It is made when the library is loaded and destroyed
// when it is unloaded (see com/posix/library_hooks.cpp); nothing survives an unload.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "com/settings.h"
#include "com/type_info_holder.h"
#include "platform/com.h"
#include "platform/trace.h"

namespace zentrova::com {

// The locale ZentrovaCOM.idl declares for the type library (lcid). Registering
// records the library under it, so loading and unregistering name it as well.
inline constexpr LCID kTypeLibraryLocale = 0x409;

class Module {
 public:
  explicit Module(std::string path);
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  const std::string& path() const { return path_; }
  // Runs action on the settings under the module's lock. Objects on any
  // thread share them, and a text is never read half-written. The action
  // must not call back into the server's objects.
  template <class Action>
  decltype(auto) WithSettings(Action&& action) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return action(settings_);
  }
  TypeInfoHolder& typeInfo() { return typeInfo_; }

  // The lock count: one per live object, per LockServer(TRUE) and while a
  // client holds the class object. The library may unload only at 0.
  void Lock() { ++locks_; }
  void Unlock() { --locks_; }
  long LockCount() const { return locks_.load(); }

  // The cached class object for clsid, asked for riid.
  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** object);

 private:
  const std::string path_;
  std::mutex settingsMutex_;
  ModuleSettings settings_;  // guarded by settingsMutex_
  TypeInfoHolder typeInfo_;
  std::atomic<long> locks_{0};
  std::mutex classObjectMutex_;
  IUnknown* classObject_ = nullptr;  // the cache's own reference
  // The delivery trace, from the first request for the class object to the
  // library's end: ZENTROVA_TRACE, else the TraceFile setting (which a script
  // running as a service can set). It is read then, not when the library
  // loads: Windows loads it under the loader lock, where the registry must not
  // be touched. A file that cannot be written is ignored: the server has no
  // console to say so on.
  std::once_flag traceOnce_;
  std::unique_ptr<platform::Trace> trace_;
};

// The module between load and unload; null outside that time (or when it could
// not be made).
Module* CurrentModule();
// Called by the library's load and unload steps only.
bool StartModule(std::string path);
void EndModule();

}  // namespace zentrova::com
