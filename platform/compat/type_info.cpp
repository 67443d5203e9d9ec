// The type-information objects (ITypeInfo, ITypeLib) over a LibraryData,
// with the late-bound call of a member through ITypeInfo::Invoke.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/compat/extras.h"
#include "platform/compat/typelib_data.h"
#include "platform/compat/vtable_call.h"

namespace zentrova::platform::typelib {
namespace {

bool EqualNoCase(OleStringView a, OleStringView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    OLECHAR x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<OLECHAR>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<OLECHAR>(y - 32);
    if (x != y) return false;
  }
  return true;
}

BSTR NewBstr(OleStringView text) {
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// What GetDocumentation hands out for a library, a type or a member: a name
// and a help string (either may be unwanted), no help context and no help file.
HRESULT FillDocumentation(OleStringView n, OleStringView d, BSTR* name, BSTR* doc,
                          DWORD* helpContext, BSTR* helpFile) {
  if (name && !(*name = NewBstr(n))) return E_OUTOFMEMORY;
  if (doc && !(*doc = NewBstr(d))) {
    if (name) SysFreeString(*name), *name = nullptr;
    return E_OUTOFMEMORY;
  }
  if (helpContext) *helpContext = 0;
  if (helpFile) *helpFile = nullptr;
  return S_OK;
}

// IUnknown of the reader's objects: IUnknown and one interface, a reference
// count that may move on any thread, and the object gone with the last reference.
template <class Interface, const IID& kIid>
class Counted : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == kIid) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

 protected:
  virtual ~Counted() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

class TypeInfo final : public Counted<ITypeInfo, IID_ITypeInfo> {
 public:
  TypeInfo(std::shared_ptr<const LibraryData> library, size_t index)
      : library_(std::move(library)), type_(library_->types[index]), index_(index) {}

  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** attr) override {
    if (!attr) return E_INVALIDARG;
    auto* a = static_cast<TYPEATTR*>(std::calloc(1, sizeof(TYPEATTR)));
    if (!a) return E_OUTOFMEMORY;
    a->guid = type_.guid;
    a->lcid = library_->lcid;
    a->memidConstructor = MEMBERID_NIL;
    a->memidDestructor = MEMBERID_NIL;
    a->typekind = type_.kind;
    a->cFuncs = static_cast<WORD>(type_.funcs.size());
    a->cImplTypes = 1;
    const unsigned slots =
        type_.funcs.empty() ? (type_.kind == TKIND_COCLASS ? 0 : 7) : type_.funcs.back().slot + 1;
    a->cbSizeVft = static_cast<WORD>(slots * sizeof(void*));
    a->cbSizeInstance = sizeof(void*);
    a->cbAlignment = alignof(void*);
    a->wTypeFlags = type_.flags;
    a->wMajorVerNum = library_->major;
    a->wMinorVerNum = library_->minor;
    *attr = a;
    return S_OK;
  }
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* attr) override { std::free(attr); }

  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** desc) override {
    if (!desc) return E_INVALIDARG;
    *desc = nullptr;
    if (index >= type_.funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
    const FuncData& func = type_.funcs[index];
    const size_t n = func.params.size();
    // One block: the record, its parameter descriptions, the pointed-to types.
    char* block = static_cast<char*>(
        std::calloc(1, sizeof(FUNCDESC) + n * (sizeof(ELEMDESC) + sizeof(TYPEDESC))));
    if (!block) return E_OUTOFMEMORY;
    auto* d = reinterpret_cast<FUNCDESC*>(block);
    auto* elems = reinterpret_cast<ELEMDESC*>(block + sizeof(FUNCDESC));
    auto* inner = reinterpret_cast<TYPEDESC*>(block + sizeof(FUNCDESC) + n * sizeof(ELEMDESC));
    d->memid = func.id;
    d->funckind = FUNC_PUREVIRTUAL;
    d->invkind = func.kind;
    d->callconv = CC_STDCALL;
    d->cParams = static_cast<SHORT>(n);
    d->oVft = static_cast<SHORT>(func.slot * sizeof(void*));
    d->elemdescFunc.tdesc.vt = VT_HRESULT;
    d->lprgelemdescParam = n ? elems : nullptr;
    for (size_t i = 0; i < n; ++i) {
      const ParamData& p = func.params[i];
      elems[i].paramdesc.wParamFlags = p.flags;
      if (p.pointer) {
        inner[i].vt = p.vt;
        elems[i].tdesc.vt = VT_PTR;
        elems[i].tdesc.lptdesc = &inner[i];
      } else {
        elems[i].tdesc.vt = p.vt;
      }
    }
    *desc = d;
    return S_OK;
  }
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* desc) override { std::free(desc); }

  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID id, BSTR* names, UINT max, UINT* count) override {
    if (!names || !count) return E_INVALIDARG;
    *count = 0;
    for (const FuncData& func : type_.funcs) {
      if (func.id != id) continue;
      std::vector<OleStringView> all{func.name};
      for (const ParamData& p : func.params)
        if (!p.name.empty()) all.push_back(p.name);
      for (size_t i = 0; i < all.size() && i < max; ++i) {
        if (!(names[i] = NewBstr(all[i]))) {
          for (UINT k = 0; k < i; ++k) SysFreeString(names[k]);
          return E_OUTOFMEMORY;
        }
        ++*count;
      }
      return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const FuncData* found = nullptr;
    for (const FuncData& func : type_.funcs)
      if (EqualNoCase(func.name, OleView(names[0]))) {
        found = &func;
        break;
      }
    if (!found) return DISP_E_UNKNOWNNAME;
    ids[0] = found->id;
    HRESULT hr = S_OK;
    // Further names are the member's parameter names; their ids are their positions.
    for (UINT i = 1; i < count; ++i) {
      for (const FuncData& func : type_.funcs) {
        if (func.id != found->id) continue;
        for (size_t k = 0; k < func.params.size(); ++k)
          if (!func.params[k].name.empty() && EqualNoCase(func.params[k].name, OleView(names[i])))
            ids[i] = static_cast<MEMBERID>(k);
      }
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }

  HRESULT STDMETHODCALLTYPE Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* helpContext,
                                             BSTR* helpFile) override {
    OleStringView n, d;
    if (id == MEMBERID_NIL) {
      n = type_.name;
      d = type_.help;
    } else {
      const FuncData* func = nullptr;
      for (const FuncData& f : type_.funcs)
        if (f.id == id) {
          func = &f;
          break;
        }
      if (!func) return TYPE_E_ELEMENTNOTFOUND;
      n = func->name;
      d = func->help;
    }
    return FillDocumentation(n, d, name, doc, helpContext, helpFile);
  }

  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** lib, UINT* index) override;

  HRESULT STDMETHODCALLTYPE GetTypeComp(void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, void**) override { return TYPE_E_ELEMENTNOTFOUND; }
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT, INT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(DWORD, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, void**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR*) override { return E_NOTIMPL; }
  void STDMETHODCALLTYPE ReleaseVarDesc(void*) override {}

 private:
  ~TypeInfo() override = default;

  std::shared_ptr<const LibraryData> library_;
  const TypeData& type_;
  size_t index_;
};

// Owns the values made for one call: coerced copies and the return value.
struct CallValues {
  std::vector<VARIANT> values;
  explicit CallValues(size_t n) : values(n) {
    for (VARIANT& v : values) VariantInit(&v);
  }
  ~CallValues() {
    for (VARIANT& v : values) VariantClear(&v);
  }
};

bool Matches(INVOKEKIND kind, WORD flags) {
  switch (kind) {
    case INVOKE_FUNC:
      return flags & DISPATCH_METHOD;
    case INVOKE_PROPERTYGET:
      return flags & DISPATCH_PROPERTYGET;
    case INVOKE_PROPERTYPUT:
      return flags & DISPATCH_PROPERTYPUT;
    case INVOKE_PROPERTYPUTREF:
      return flags & DISPATCH_PROPERTYPUTREF;
  }
  return false;
}

bool IsPut(const FuncData& func) {
  return func.kind == INVOKE_PROPERTYPUT || func.kind == INVOKE_PROPERTYPUTREF;
}

// The member that id names for the kind of call the flags ask for, or null.
const FuncData* FindMember(const TypeData& type, MEMBERID id, WORD flags) {
  for (const FuncData& f : type.funcs)
    if (f.id == id && Matches(f.kind, flags)) return &f;
  return nullptr;
}

// A property put brings its value as the one named argument; other calls
// bring none, and every call brings one argument per input parameter.
HRESULT CheckArgumentCount(const FuncData& func, const DISPPARAMS& params) {
  if (IsPut(func)) {
    if (params.cNamedArgs != 1 || params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
      return DISP_E_PARAMNOTOPTIONAL;
  } else if (params.cNamedArgs) {
    return DISP_E_NONAMEDARGS;
  }
  size_t inputs = 0;
  for (const ParamData& p : func.params) inputs += !(p.flags & PARAMFLAG_FRETVAL);
  return params.cArgs == inputs ? S_OK : DISP_E_BADPARAMCOUNT;
}

// Whether a parameter of this type travels in an integer register (see
// vtable_call.cpp): pointers and integers do, doubles and VARIANTs by value do not.
bool FitsAWord(const ParamData& p) {
  return p.pointer || !(p.vt == VT_VARIANT || p.vt == VT_R8 || p.vt == VT_BOOL ||
                        p.vt == VT_DISPATCH || p.vt == VT_UNKNOWN);
}

// The machine word that passes arg for parameter p; local receives a copy
// coerced to the parameter's type where one is needed.
HRESULT ToWord(const ParamData& p, VARIANT* arg, VARIANT& local, uintptr_t& word) {
  if (p.pointer && p.vt == VT_VARIANT) {
    // A VARIANT* receives the argument itself, with one by-reference layer removed.
    word = reinterpret_cast<uintptr_t>(arg->vt == (VT_BYREF | VT_VARIANT) ? arg->pvarVal : arg);
    return S_OK;
  }
  if (p.pointer && arg->vt == (VT_BYREF | p.vt)) {
    word = reinterpret_cast<uintptr_t>(arg->byref);
    return S_OK;
  }
  const HRESULT hr = VariantChangeType(&local, arg, 0, p.vt);
  if (p.pointer)
    word = reinterpret_cast<uintptr_t>(&local.llVal);
  else if (p.vt == VT_BSTR)
    word = reinterpret_cast<uintptr_t>(local.bstrVal);
  else if (p.vt == VT_I4)
    word = static_cast<uintptr_t>(static_cast<intptr_t>(local.lVal));
  else
    word = static_cast<uintptr_t>(static_cast<intptr_t>(local.iVal));
  return hr;
}

// The word for the return value: where the member writes it.
uintptr_t RetvalWord(const ParamData& p, VARIANT& local) {
  if (p.vt == VT_VARIANT) return reinterpret_cast<uintptr_t>(&local);
  local.vt = p.vt;
  return reinterpret_cast<uintptr_t>(&local.llVal);
}

HRESULT STDMETHODCALLTYPE TypeInfo::Invoke(void* instance, MEMBERID id, WORD flags,
                                           DISPPARAMS* params, VARIANT* result,
                                           EXCEPINFO* exception, UINT* argError) {
  if (!instance || !params || (params->cArgs && !params->rgvarg) ||
      (params->cNamedArgs && !params->rgdispidNamedArgs) || params->cNamedArgs > params->cArgs)
    return E_INVALIDARG;
  const FuncData* func = FindMember(type_, id, flags);
  if (!func) return DISP_E_MEMBERNOTFOUND;
  if (HRESULT hr = CheckArgumentCount(*func, *params); FAILED(hr)) return hr;

  // Each parameter as a machine word, in declaration order.
  const size_t count = func->params.size();
  CallValues values(count);
  std::vector<uintptr_t> words(count);
  size_t next = 0;  // the next positional argument
  size_t retval = count;
  for (size_t i = 0; i < count; ++i) {
    const ParamData& p = func->params[i];
    if (p.flags & PARAMFLAG_FRETVAL) {
      retval = i;
      words[i] = RetvalWord(p, values.values[i]);
      continue;
    }
    // Arguments come last-first; the value of a property put is the named one at 0.
    const UINT index =
        IsPut(*func) && i + 1 == count ? 0 : params->cArgs - 1 - static_cast<UINT>(next++);
    if (!FitsAWord(p)) return DISP_E_BADVARTYPE;
    if (HRESULT hr = ToWord(p, &params->rgvarg[index], values.values[i], words[i]); FAILED(hr)) {
      if (argError) *argError = index;
      return hr == E_OUTOFMEMORY ? hr
                                 : (hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH);
    }
  }

  // The call; a failure it returns is the member's exception.
  if (result) VariantInit(result);
  HRESULT hr = CallSlot(instance, func->slot, words.data(), words.size());
  if (FAILED(hr)) {
    if (exception) {
      std::memset(exception, 0, sizeof *exception);
      exception->scode = hr;
    }
    return DISP_E_EXCEPTION;
  }
  if (retval < count && result) {
    *result = values.values[retval];
    VariantInit(&values.values[retval]);  // handed to the caller
  }
  return hr;
}

class TypeLib final : public Counted<ITypeLib, IID_ITypeLib> {
 public:
  explicit TypeLib(std::shared_ptr<const LibraryData> library) : library_(std::move(library)) {}

  UINT STDMETHODCALLTYPE GetTypeInfoCount() override {
    return static_cast<UINT>(library_->types.size());
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** info) override {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    if (index >= library_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
    *info = new (std::nothrow) TypeInfo(library_, index);
    return *info ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* kind) override {
    if (!kind) return E_INVALIDARG;
    if (index >= library_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
    *kind = library_->types[index].kind;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    for (size_t i = 0; i < library_->types.size(); ++i)
      if (library_->types[i].guid == guid) return GetTypeInfo(static_cast<UINT>(i), info);
    return TYPE_E_ELEMENTNOTFOUND;
  }

  HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** attr) override {
    if (!attr) return E_INVALIDARG;
    auto* a = static_cast<TLIBATTR*>(std::calloc(1, sizeof(TLIBATTR)));
    if (!a) return E_OUTOFMEMORY;
    a->guid = library_->guid;
    a->lcid = library_->lcid;
    a->syskind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    a->wMajorVerNum = library_->major;
    a->wMinorVerNum = library_->minor;
    *attr = a;
    return S_OK;
  }
  void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* attr) override { std::free(attr); }

  HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* helpContext,
                                             BSTR* helpFile) override {
    if (index < -1 || index >= static_cast<INT>(library_->types.size()))
      return TYPE_E_ELEMENTNOTFOUND;
    OleStringView n = index < 0 ? library_->name : library_->types[index].name;
    OleStringView d = index < 0 ? library_->help : library_->types[index].help;
    return FillDocumentation(n, d, name, doc, helpContext, helpFile);
  }

  HRESULT STDMETHODCALLTYPE GetTypeComp(void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsName(LPOLESTR, ULONG, BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindName(LPOLESTR, ULONG, ITypeInfo**, MEMBERID*, USHORT*) override {
    return E_NOTIMPL;
  }

 private:
  ~TypeLib() override = default;
  std::shared_ptr<const LibraryData> library_;
};

HRESULT STDMETHODCALLTYPE TypeInfo::GetContainingTypeLib(ITypeLib** lib, UINT* index) {
  if (!lib) return E_INVALIDARG;
  *lib = new (std::nothrow) TypeLib(library_);
  if (!*lib) return E_OUTOFMEMORY;
  if (index) *index = static_cast<UINT>(index_);
  return S_OK;
}

}  // namespace
}  // namespace zentrova::platform::typelib

namespace zentrova::platform {

HRESULT LoadTypeLibFromText(std::string_view idl, ITypeLib** lib, std::string* error) {
  if (!lib) return E_INVALIDARG;
  *lib = nullptr;
  auto library = std::make_shared<typelib::LibraryData>();
  std::string reason;
  if (!typelib::ReadIdl(idl, *library, reason)) {
    if (error) *error = reason;
    return TYPE_E_CANTLOADLIBRARY;
  }
  *lib = new (std::nothrow) typelib::TypeLib(std::move(library));
  return *lib ? S_OK : E_OUTOFMEMORY;
}

}  // namespace zentrova::platform
