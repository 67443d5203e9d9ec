// IDispatch for the server's objects, driven by the registered type library:
// the type information is loaded on first use (with the caller's locale) and
// then kept, with a cache of member names, until the library is unloaded.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/com.h"

namespace zentrova::com {

class TypeInfoHolder {
 public:
  TypeInfoHolder(const IID& iid, const GUID& libid, WORD major, WORD minor);
  ~TypeInfoHolder();
  TypeInfoHolder(const TypeInfoHolder&) = delete;
  TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info);
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
  HRESULT Invoke(IDispatch* object, DISPID id, REFIID riid, LCID lcid, WORD flags,
                 DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argError);

 private:
  struct Name {
    BSTR text;
    UINT length;
    DISPID id;
  };

  // Loads the type information if it is not loaded; a failure leaves nothing
  // behind, so the next call tries again.
  HRESULT Load(LCID lcid);

  const IID iid_;
  const GUID libid_;
  const WORD major_;
  const WORD minor_;
  std::mutex mutex_;  // serialises the first load
  std::atomic<ITypeInfo*> info_{nullptr};
  std::vector<Name> names_;  // written once, under mutex_, before info_ is published
};

}  // namespace zentrova::com
