#include "com/type_info_holder.h"

#include <new>

namespace zentrova::com {

TypeInfoHolder::TypeInfoHolder(const IID& iid, const GUID& libid, WORD major, WORD minor, LCID lcid)
    : iid_(iid), libid_(libid), major_(major), minor_(minor), lcid_(lcid) {}

TypeInfoHolder::~TypeInfoHolder() {
  if (ITypeInfo* info = info_.exchange(nullptr)) info->Release();
  for (Name& name : names_) SysFreeString(name.text);
}

HRESULT TypeInfoHolder::Load() {
  if (info_.load(std::memory_order_acquire)) return S_OK;
  std::lock_guard<std::mutex> lock(mutex_);
  if (info_.load(std::memory_order_relaxed)) return S_OK;

  ITypeLib* lib = nullptr;
  HRESULT hr = LoadRegTypeLib(libid_, major_, minor_, lcid_, &lib);
  if (FAILED(hr)) return hr;
  ITypeInfo* info = nullptr;
  hr = lib->GetTypeInfoOfGuid(iid_, &info);
  lib->Release();
  if (FAILED(hr)) return hr;

  std::vector<Name> names;
  auto freeNames = [&names] {
    for (Name& name : names) SysFreeString(name.text);
  };
  TYPEATTR* attr = nullptr;
  hr = info->GetTypeAttr(&attr);
  if (SUCCEEDED(hr)) {
    const WORD count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    try {
      names.reserve(count);
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
    for (UINT i = 0; SUCCEEDED(hr) && i < count; ++i) {
      FUNCDESC* desc = nullptr;
      hr = info->GetFuncDesc(i, &desc);
      if (FAILED(hr)) break;
      const MEMBERID id = desc->memid;
      info->ReleaseFuncDesc(desc);
      BSTR text = nullptr;
      hr = info->GetDocumentation(id, &text, nullptr, nullptr, nullptr);
      if (SUCCEEDED(hr)) names.push_back({text, SysStringLen(text), id});
    }
  }
  if (FAILED(hr)) {
    freeNames();
    info->Release();
    return hr;
  }
  names_ = std::move(names);
  info_.store(info, std::memory_order_release);
  return S_OK;
}

HRESULT TypeInfoHolder::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  // There is one type information: the index is not examined.
  if (!info) return E_POINTER;
  *info = nullptr;
  HRESULT hr = Load();
  if (FAILED(hr)) return hr;
  ITypeInfo* loaded = info_.load(std::memory_order_acquire);
  loaded->AddRef();
  *info = loaded;
  return S_OK;
}

HRESULT TypeInfoHolder::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  HRESULT hr = Load();
  if (FAILED(hr)) return hr;
  if (!names || !ids) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) {
    UINT length = 0;
    while (names[i] && names[i][length]) ++length;
    bool found = false;
    // The exact spelling of the type library is answered here; anything else
    // (another letter case, parameter names) by the type information itself.
    for (size_t k = names_.size(); k-- > 0;) {
      const Name& name = names_[k];
      if (name.length == length &&
          std::char_traits<OLECHAR>::compare(name.text, names[i], length) == 0) {
        ids[i] = name.id;
        found = true;
        break;
      }
    }
    if (!found) return info_.load(std::memory_order_acquire)->GetIDsOfNames(names, count, ids);
  }
  return S_OK;
}

HRESULT TypeInfoHolder::Loaded(ITypeInfo*& info) {
  HRESULT hr = Load();
  info = SUCCEEDED(hr) ? info_.load(std::memory_order_acquire) : nullptr;
  return hr;
}

}  // namespace zentrova::com
