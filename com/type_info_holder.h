// IDispatch for the server's objects, driven by the registered type library:
// the type information is loaded on first use and then kept, with a cache of
// member names, until the library is unloaded.
//
// The library is loaded with the locale it was registered under, not with the
// caller's: registration records it under the locale it declares, and the
// loader falls back from a caller's locale to the neutral one only, never to
// another language. Script engines call with locale 0.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/com.h"

namespace zentrova::com {

class TypeInfoHolder {
 public:
  TypeInfoHolder(const IID& iid, const GUID& libid, WORD major, WORD minor, LCID lcid);
  ~TypeInfoHolder();
  TypeInfoHolder(const TypeInfoHolder&) = delete;
  TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info);
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
  // The loaded type information, without a reference of the caller's (the
  // holder keeps it until the library is unloaded): IDispatch::Invoke is its
  // ITypeInfo::Invoke on the object.
  HRESULT Loaded(ITypeInfo*& info);

 private:
  struct Name {
    BSTR text;
    UINT length;
    DISPID id;
  };

  // Loads the type information if it is not loaded; a failure leaves nothing
  // behind, so the next call tries again.
  HRESULT Load();

  const IID iid_;
  const GUID libid_;
  const WORD major_;
  const WORD minor_;
  const LCID lcid_;
  std::mutex mutex_;  // serialises the first load
  std::atomic<ITypeInfo*> info_{nullptr};
  std::vector<Name> names_;  // written once, under mutex_, before info_ is published
};

}  // namespace zentrova::com
