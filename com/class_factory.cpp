#include "com/class_factory.h"

#include "com/module.h"

namespace zentrova::com {

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IClassFactory) {
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// The module's cache keeps one reference for the library's whole life; a count
// above that means a client holds the class object, which keeps the library loaded.
ULONG STDMETHODCALLTYPE ClassFactory::AddRef() {
  std::lock_guard<std::mutex> lock(mutex_);
  const long n = ++refs_;
  if (n == 2)
    if (Module* module = CurrentModule()) module->Lock();
  return static_cast<ULONG>(n);
}

ULONG STDMETHODCALLTYPE ClassFactory::Release() {
  long n;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    n = --refs_;
    if (n == 1)
      if (Module* module = CurrentModule()) module->Unlock();
  }
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* outer, REFIID riid,
                                                       void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer && !(riid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return maker_(outer, riid, object);
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) {
  if (Module* module = CurrentModule()) {
    if (lock)
      module->Lock();
    else
      module->Unlock();
  }
  return S_OK;
}

}  // namespace zentrova::com
