// Type libraries: what OLE Automation's loader, type information and
// registration do for a dual interface. A module embeds its interface
// definition (the .idl text) as resource "TYPELIB" 1; the loader reads the
// subset of the language that automation interfaces use and builds the type
// information from it, so there is no second description to keep in step.
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/registry.h"
#include "platform/resource.h"

namespace zentrova::platform {
namespace {

// ---- The library's description -------------------------------------------------

struct ParamData {
  std::u16string name;  // empty for the value of a property put
  VARTYPE vt = VT_EMPTY;
  bool pointer = false;
  USHORT flags = PARAMFLAG_NONE;
};

struct FuncData {
  MEMBERID id = 0;
  INVOKEKIND kind = INVOKE_FUNC;
  std::u16string name;
  std::u16string help;
  std::vector<ParamData> params;
  unsigned slot = 0;  // vtable index
};

struct TypeData {
  TYPEKIND kind = TKIND_DISPATCH;
  GUID guid{};
  std::u16string name;
  std::u16string help;
  WORD flags = 0;
  std::vector<FuncData> funcs;
  std::u16string defaultInterface;  // coclass only
};

struct LibraryData {
  GUID guid{};
  std::u16string name;
  std::u16string help;
  WORD major = 0;
  WORD minor = 0;
  LCID lcid = 0;
  std::vector<TypeData> types;
};

std::u16string Widen(std::string_view text) {
  std::u16string out;
  for (char c : text) out.push_back(static_cast<unsigned char>(c));
  return out;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::u16string_view View(LPCOLESTR text) {
  if (!text) return {};
  size_t n = 0;
  while (text[n]) ++n;
  return {text, n};
}

BSTR NewBstr(std::u16string_view text) {
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// What GetDocumentation hands out for a library, a type or a member: a name
// and a help string (either may be unwanted), no help context and no help file.
HRESULT FillDocumentation(std::u16string_view n, std::u16string_view d, BSTR* name, BSTR* doc,
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

// ---- Interface-definition reader -----------------------------------------------

class IdlReader {
 public:
  explicit IdlReader(std::string_view text) : text_(text) {}

  bool Read(LibraryData& library, std::string& error) {
    std::vector<TypeData> interfaces;
    bool haveLibrary = false;
    while (SkipBlank(), pos_ < text_.size()) {
      Attributes attributes;
      if (!ReadAttributes(attributes)) return Fail(error);
      std::string word = Word();
      if (word == "import") {
        if (!String() || !Expect(';')) return Fail(error);
      } else if (word == "cpp_quote") {
        if (!Expect('(') || !String() || !Expect(')')) return Fail(error);
      } else if (word == "interface") {
        TypeData type;
        if (!ReadInterface(attributes, type)) return Fail(error);
        if (!type.name.empty()) interfaces.push_back(std::move(type));
      } else if (word == "library") {
        if (haveLibrary) return Fail(error, "a second library");
        if (!ReadLibrary(attributes, library, interfaces)) return Fail(error);
        haveLibrary = true;
      } else {
        return Fail(error, "unexpected '" + word + "'");
      }
    }
    if (!haveLibrary) return Fail(error, "no library statement");
    return true;
  }

 private:
  struct Attributes {
    std::vector<std::pair<std::string, std::string>> items;  // name, raw argument
    bool Has(std::string_view name) const {
      for (const auto& item : items)
        if (item.first == name) return true;
      return false;
    }
    std::string Get(std::string_view name) const {
      for (const auto& item : items)
        if (item.first == name) return item.second;
      return {};
    }
  };

  bool Fail(std::string& error, const std::string& what = {}) {
    size_t line = 1;
    for (size_t i = 0; i < pos_ && i < text_.size(); ++i) line += text_[i] == '\n';
    error = "interface definition, line " + std::to_string(line) + ": " +
            (what.empty() ? (problem_.empty() ? std::string("syntax error") : problem_) : what);
    return false;
  }

  void SkipBlank() {
    while (pos_ < text_.size()) {
      if (std::isspace(static_cast<unsigned char>(text_[pos_]))) {
        ++pos_;
      } else if (text_.compare(pos_, 2, "//") == 0) {
        pos_ = text_.find('\n', pos_);
        if (pos_ == std::string_view::npos) pos_ = text_.size();
      } else if (text_.compare(pos_, 2, "/*") == 0) {
        pos_ = text_.find("*/", pos_ + 2);
        pos_ = pos_ == std::string_view::npos ? text_.size() : pos_ + 2;
      } else {
        break;
      }
    }
  }

  bool Peek(char c) {
    SkipBlank();
    return pos_ < text_.size() && text_[pos_] == c;
  }

  bool Expect(char c) {
    if (!Peek(c)) {
      problem_ = std::string("expected '") + c + "'";
      return false;
    }
    ++pos_;
    return true;
  }

  std::string Word() {
    SkipBlank();
    size_t start = pos_;
    while (pos_ < text_.size() &&
           (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
      ++pos_;
    return std::string(text_.substr(start, pos_ - start));
  }

  // A quoted string; its text (escapes \" and \\ resolved) in last_string_.
  bool String() {
    if (!Expect('"')) return false;
    last_string_.clear();
    while (pos_ < text_.size() && text_[pos_] != '"') {
      if (text_[pos_] == '\\' && pos_ + 1 < text_.size()) ++pos_;
      last_string_.push_back(text_[pos_++]);
    }
    return Expect('"');
  }

  bool ReadAttributes(Attributes& attributes) {
    if (!Peek('[')) return true;
    ++pos_;
    while (true) {
      std::string name = Word();
      if (name.empty()) return (problem_ = "expected an attribute"), false;
      std::string argument;
      if (Peek('(')) {
        ++pos_;
        SkipBlank();
        if (Peek('"')) {
          if (!String()) return false;
          argument = last_string_;
        } else {
          size_t end = text_.find(')', pos_);
          if (end == std::string_view::npos) return (problem_ = "unclosed attribute"), false;
          argument = std::string(text_.substr(pos_, end - pos_));
          while (!argument.empty() && std::isspace(static_cast<unsigned char>(argument.back())))
            argument.pop_back();
          pos_ = end;
        }
        if (!Expect(')')) return false;
      }
      attributes.items.emplace_back(std::move(name), std::move(argument));
      if (Peek(']')) {
        ++pos_;
        return true;
      }
      if (!Expect(',')) return false;
    }
  }

  bool Uuid(const Attributes& attributes, GUID& guid) {
    if (!ParseGuid(attributes.Get("uuid"), guid))
      return (problem_ = "missing or malformed uuid"), false;
    return true;
  }

  static bool Type(const std::string& word, VARTYPE& vt) {
    if (word == "BSTR")
      vt = VT_BSTR;
    else if (word == "long" || word == "LONG" || word == "int" || word == "INT")
      vt = VT_I4;
    else if (word == "short" || word == "SHORT")
      vt = VT_I2;
    else if (word == "double" || word == "DOUBLE")
      vt = VT_R8;
    else if (word == "VARIANT")
      vt = VT_VARIANT;
    else if (word == "VARIANT_BOOL")
      vt = VT_BOOL;
    else if (word == "IDispatch")
      vt = VT_DISPATCH;
    else if (word == "IUnknown")
      vt = VT_UNKNOWN;
    else
      return false;
    return true;
  }

  bool ReadInterface(const Attributes& attributes, TypeData& type) {
    std::string name = Word();
    if (name.empty()) return (problem_ = "interface without a name"), false;
    if (Peek(';')) {  // a forward declaration
      ++pos_;
      return true;
    }
    unsigned firstSlot = 3;
    if (Peek(':')) {
      ++pos_;
      std::string base = Word();
      if (base == "IDispatch")
        firstSlot = 7;
      else if (base != "IUnknown")
        return (problem_ = "unsupported base interface " + base), false;
    }
    if (!Uuid(attributes, type.guid)) return false;
    type.kind = TKIND_DISPATCH;
    type.name = Widen(name);
    type.help = Widen(attributes.Get("helpstring"));
    if (attributes.Has("dual"))
      type.flags |= TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    if (attributes.Has("oleautomation")) type.flags |= TYPEFLAG_FOLEAUTOMATION;
    if (!Expect('{')) return false;
    while (!Peek('}')) {
      FuncData func;
      if (!ReadMember(func)) return false;
      func.slot = firstSlot + static_cast<unsigned>(type.funcs.size());
      type.funcs.push_back(std::move(func));
    }
    ++pos_;
    if (Peek(';')) ++pos_;
    return true;
  }

  bool ReadMember(FuncData& func) {
    Attributes attributes;
    if (!ReadAttributes(attributes)) return false;
    if (Word() != "HRESULT") return (problem_ = "members must return HRESULT"), false;
    func.name = Widen(Word());
    if (func.name.empty()) return (problem_ = "member without a name"), false;
    std::string id = attributes.Get("id");
    char* end = nullptr;
    func.id = static_cast<MEMBERID>(std::strtol(id.c_str(), &end, 0));
    if (id.empty() || *end) return (problem_ = "member without an id"), false;
    func.kind = attributes.Has("propget")      ? INVOKE_PROPERTYGET
                : attributes.Has("propput")    ? INVOKE_PROPERTYPUT
                : attributes.Has("propputref") ? INVOKE_PROPERTYPUTREF
                                               : INVOKE_FUNC;
    func.help = Widen(attributes.Get("helpstring"));
    if (!Expect('(')) return false;
    if (!Peek(')')) {
      size_t mark = pos_;
      if (Word() != "void" || !Peek(')')) {
        pos_ = mark;
        while (true) {
          ParamData param;
          if (!ReadParam(param)) return false;
          func.params.push_back(std::move(param));
          if (Peek(')')) break;
          if (!Expect(',')) return false;
        }
      }
    }
    ++pos_;
    // The type library keeps no name for the value of a property put.
    if ((func.kind == INVOKE_PROPERTYPUT || func.kind == INVOKE_PROPERTYPUTREF) &&
        !func.params.empty())
      func.params.back().name.clear();
    return Expect(';');
  }

  bool ReadParam(ParamData& param) {
    Attributes attributes;
    if (!ReadAttributes(attributes)) return false;
    std::string type = Word();
    if (!Type(type, param.vt))
      return (problem_ = "unsupported parameter type '" + type + "'"), false;
    int stars = 0;
    while (Peek('*')) ++pos_, ++stars;
    // Interfaces are always passed by pointer: one star is the value itself.
    if (param.vt == VT_DISPATCH || param.vt == VT_UNKNOWN) --stars;
    if (stars < 0 || stars > 1)
      return (problem_ = "unsupported indirection of '" + type + "'"), false;
    param.pointer = stars == 1;
    param.name = Widen(Word());
    if (attributes.Has("in")) param.flags |= PARAMFLAG_FIN;
    if (attributes.Has("out")) param.flags |= PARAMFLAG_FOUT;
    if (attributes.Has("retval")) param.flags |= PARAMFLAG_FRETVAL;
    if (attributes.Has("optional")) param.flags |= PARAMFLAG_FOPT;
    if ((param.flags & PARAMFLAG_FRETVAL) && !param.pointer)
      return (problem_ = "retval must be a pointer"), false;
    return true;
  }

  bool ReadCoclass(const Attributes& attributes, TypeData& type) {
    type.kind = TKIND_COCLASS;
    type.name = Widen(Word());
    type.help = Widen(attributes.Get("helpstring"));
    type.flags = TYPEFLAG_FCANCREATE;
    if (type.name.empty() || !Uuid(attributes, type.guid) || !Expect('{')) return false;
    while (!Peek('}')) {
      Attributes member;
      if (!ReadAttributes(member)) return false;
      if (Word() != "interface") return (problem_ = "expected 'interface' in coclass"), false;
      std::u16string name = Widen(Word());
      if (type.defaultInterface.empty() || member.Has("default")) type.defaultInterface = name;
      if (!Expect(';')) return false;
    }
    ++pos_;
    if (Peek(';')) ++pos_;
    return true;
  }

  bool ReadLibrary(const Attributes& attributes, LibraryData& library,
                   std::vector<TypeData>& interfaces) {
    library.name = Widen(Word());
    library.help = Widen(attributes.Get("helpstring"));
    if (library.name.empty() || !Uuid(attributes, library.guid)) return false;
    std::string version = attributes.Get("version");
    char* end = nullptr;
    library.major = static_cast<WORD>(std::strtoul(version.c_str(), &end, 10));
    if (*end == '.') library.minor = static_cast<WORD>(std::strtoul(end + 1, &end, 10));
    if (version.empty() || *end) return (problem_ = "library without a version"), false;
    std::string lcid = attributes.Get("lcid");
    library.lcid = static_cast<LCID>(std::strtoul(lcid.c_str(), nullptr, 0));
    if (!Expect('{')) return false;
    std::vector<TypeData> coclasses;
    while (!Peek('}')) {
      Attributes inner;
      if (!ReadAttributes(inner)) return false;
      std::string word = Word();
      if (word == "importlib") {
        if (!Expect('(') || !String() || !Expect(')') || !Expect(';')) return false;
      } else if (word == "coclass") {
        TypeData type;
        if (!ReadCoclass(inner, type)) return false;
        coclasses.push_back(std::move(type));
      } else if (word == "interface") {
        TypeData type;
        if (!ReadInterface(inner, type)) return false;
        if (!type.name.empty()) interfaces.push_back(std::move(type));
      } else {
        return (problem_ = "unexpected '" + word + "' in library"), false;
      }
    }
    ++pos_;
    if (Peek(';')) ++pos_;
    // Interfaces first, in the order of definition, then the classes.
    library.types = std::move(interfaces);
    for (auto& type : coclasses) library.types.push_back(std::move(type));
    interfaces.clear();
    return true;
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::string last_string_;
  std::string problem_;
};

// ---- Calling a vtable member --------------------------------------------------

// Every parameter type this loader accepts is passed in an integer register
// (pointers, 32- and 16-bit integers), so a member is called as a function of
// the object pointer and up to six machine words.
HRESULT CallSlot(void* instance, unsigned slot, const uintptr_t* a, size_t n) {
  using Fn = void (*)();
  Fn fn = (*reinterpret_cast<Fn**>(instance))[slot];
  switch (n) {
    case 0:
      return reinterpret_cast<HRESULT (*)(void*)>(fn)(instance);
    case 1:
      return reinterpret_cast<HRESULT (*)(void*, uintptr_t)>(fn)(instance, a[0]);
    case 2:
      return reinterpret_cast<HRESULT (*)(void*, uintptr_t, uintptr_t)>(fn)(instance, a[0], a[1]);
    case 3:
      return reinterpret_cast<HRESULT (*)(void*, uintptr_t, uintptr_t, uintptr_t)>(fn)(
          instance, a[0], a[1], a[2]);
    case 4:
      return reinterpret_cast<HRESULT (*)(void*, uintptr_t, uintptr_t, uintptr_t, uintptr_t)>(fn)(
          instance, a[0], a[1], a[2], a[3]);
    case 5:
      return reinterpret_cast<HRESULT (*)(void*, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                                          uintptr_t)>(fn)(instance, a[0], a[1], a[2], a[3], a[4]);
    default:
      return DISP_E_BADPARAMCOUNT;
  }
}

// ---- Type information -------------------------------------------------------------

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
      std::vector<std::u16string_view> all{func.name};
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
      if (EqualNoCase(func.name, View(names[0]))) {
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
          if (!func.params[k].name.empty() && EqualNoCase(func.params[k].name, View(names[i])))
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
    std::u16string_view n, d;
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

HRESULT STDMETHODCALLTYPE TypeInfo::Invoke(void* instance, MEMBERID id, WORD flags,
                                           DISPPARAMS* params, VARIANT* result,
                                           EXCEPINFO* exception, UINT* argError) {
  if (!instance || !params || (params->cArgs && !params->rgvarg) ||
      (params->cNamedArgs && !params->rgdispidNamedArgs) || params->cNamedArgs > params->cArgs)
    return E_INVALIDARG;
  const FuncData* func = nullptr;
  for (const FuncData& f : type_.funcs)
    if (f.id == id && Matches(f.kind, flags)) {
      func = &f;
      break;
    }
  if (!func) return DISP_E_MEMBERNOTFOUND;

  const bool put = func->kind == INVOKE_PROPERTYPUT || func->kind == INVOKE_PROPERTYPUTREF;
  if (put) {
    if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
      return DISP_E_PARAMNOTOPTIONAL;
  } else if (params->cNamedArgs) {
    return DISP_E_NONAMEDARGS;
  }
  size_t inputs = 0;
  for (const ParamData& p : func->params) inputs += !(p.flags & PARAMFLAG_FRETVAL);
  if (params->cArgs != inputs) return DISP_E_BADPARAMCOUNT;

  CallValues values(func->params.size());
  std::vector<uintptr_t> words(func->params.size());
  size_t next = 0;  // the next positional argument
  size_t retval = func->params.size();
  for (size_t i = 0; i < func->params.size(); ++i) {
    const ParamData& p = func->params[i];
    VARIANT& local = values.values[i];
    if (p.flags & PARAMFLAG_FRETVAL) {
      retval = i;
      if (p.vt == VT_VARIANT) {
        words[i] = reinterpret_cast<uintptr_t>(&local);
      } else {
        local.vt = p.vt;
        words[i] = reinterpret_cast<uintptr_t>(&local.llVal);
      }
      continue;
    }
    // Arguments come last-first; the value of a property put is the named one at 0.
    const UINT index =
        put && i + 1 == func->params.size() ? 0 : params->cArgs - 1 - static_cast<UINT>(next++);
    VARIANT* arg = &params->rgvarg[index];
    HRESULT hr = S_OK;
    if (p.pointer && p.vt == VT_VARIANT) {
      // A VARIANT* receives the argument itself, with one by-reference layer removed.
      words[i] =
          reinterpret_cast<uintptr_t>(arg->vt == (VT_BYREF | VT_VARIANT) ? arg->pvarVal : arg);
    } else if (p.pointer && arg->vt == (VT_BYREF | p.vt)) {
      words[i] = reinterpret_cast<uintptr_t>(arg->byref);
    } else if (p.vt == VT_VARIANT || p.vt == VT_R8 || p.vt == VT_BOOL || p.vt == VT_DISPATCH ||
               p.vt == VT_UNKNOWN) {
      if (!p.pointer) return DISP_E_BADVARTYPE;  // not passed in an integer register here
      hr = VariantChangeType(&local, arg, 0, p.vt);
      words[i] = reinterpret_cast<uintptr_t>(&local.llVal);
    } else {
      hr = VariantChangeType(&local, arg, 0, p.vt);
      if (p.pointer)
        words[i] = reinterpret_cast<uintptr_t>(&local.llVal);
      else if (p.vt == VT_BSTR)
        words[i] = reinterpret_cast<uintptr_t>(local.bstrVal);
      else if (p.vt == VT_I4)
        words[i] = static_cast<uintptr_t>(static_cast<intptr_t>(local.lVal));
      else
        words[i] = static_cast<uintptr_t>(static_cast<intptr_t>(local.iVal));
    }
    if (FAILED(hr)) {
      if (argError) *argError = index;
      return hr == E_OUTOFMEMORY ? hr
                                 : (hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH);
    }
  }

  if (result) VariantInit(result);
  HRESULT hr = CallSlot(instance, func->slot, words.data(), words.size());
  if (FAILED(hr)) {
    if (exception) {
      std::memset(exception, 0, sizeof *exception);
      exception->scode = hr;
    }
    return DISP_E_EXCEPTION;
  }
  if (retval < func->params.size() && result) {
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
    std::u16string_view n = index < 0 ? library_->name : library_->types[index].name;
    std::u16string_view d = index < 0 ? library_->help : library_->types[index].help;
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

// ---- Registration ------------------------------------------------------------------

// The platform key under a library's language key; Windows has "win32" and "win64" there.
constexpr char kPlatformKey[] = "linux";
constexpr char kAutomationMarshaler[] = "{00020424-0000-0000-C000-000000000046}";

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

std::string LibraryKey(const GUID& libid) { return "TypeLib\\" + GuidToString(libid); }

bool KeyExists(const std::string& path) {
  RegistryKey key;
  return key.Open(RegistryRoot::kClassesRoot, path) == kErrorSuccess;
}

std::vector<std::string> SubkeysOf(const std::string& path) {
  std::vector<std::string> names;
  RegistryKey key;
  if (key.Open(RegistryRoot::kClassesRoot, path) == kErrorSuccess) key.Subkeys(names);
  return names;
}

bool ReadDefault(const std::string& path, std::string& value) {
  RegistryKey key;
  if (key.Open(RegistryRoot::kClassesRoot, path) != kErrorSuccess) return false;
  std::vector<RegistryValue> values;
  if (key.Values(values) != kErrorSuccess) return false;
  for (const RegistryValue& v : values)
    if (v.name.empty()) {
      value = v.data;
      while (!value.empty() && value.back() == '\0') value.pop_back();
      return true;
    }
  return false;
}

bool EqualKeyName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The registered version key that serves a request for major.minor: the same
// major version and the highest minor version not below the one asked for.
bool FindVersionKey(const GUID& libid, WORD major, WORD minor, std::string& versionKey) {
  long best = -1;
  for (const std::string& name : SubkeysOf(LibraryKey(libid))) {
    char* end = nullptr;
    unsigned long maj = std::strtoul(name.c_str(), &end, 16);
    if (*end != '.') continue;
    unsigned long min = std::strtoul(end + 1, &end, 16);
    if (*end || maj != major || min < minor || static_cast<long>(min) <= best) continue;
    best = static_cast<long>(min);
    versionKey = LibraryKey(libid) + "\\" + name;
  }
  return best >= 0;
}

bool FindPath(const std::string& versionKey, LCID lcid, std::string& path) {
  for (unsigned language : {unsigned(lcid), unsigned(lcid & 0x3FF), 0u})
    if (ReadDefault(versionKey + "\\" + Hex(language) + "\\" + kPlatformKey, path) && !path.empty())
      return true;
  return false;
}

}  // namespace

HRESULT LoadTypeLibFromText(std::string_view idl, ITypeLib** lib, std::string* error) {
  if (!lib) return E_INVALIDARG;
  *lib = nullptr;
  auto library = std::make_shared<LibraryData>();
  std::string reason;
  if (!IdlReader(idl).Read(*library, reason)) {
    if (error) *error = reason;
    return TYPE_E_CANTLOADLIBRARY;
  }
  *lib = new (std::nothrow) TypeLib(std::move(library));
  return *lib ? S_OK : E_OUTOFMEMORY;
}

}  // namespace zentrova::platform

using namespace zentrova::platform;

HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** lib) {
  if (!file || !lib) return E_INVALIDARG;
  *lib = nullptr;
  std::string path, text;
  if (!Utf16ToUtf8(View(file), path) || !LoadModuleResource(path, "TYPELIB", 1, text))
    return TYPE_E_CANTLOADLIBRARY;
  try {
    return LoadTypeLibFromText(text, lib);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib) {
  if (!lib) return E_INVALIDARG;
  *lib = nullptr;
  try {
    std::string versionKey, path;
    if (!FindVersionKey(libid, major, minor, versionKey) || !FindPath(versionKey, lcid, path))
      return TYPE_E_LIBNOTREGISTERED;
    std::u16string wide;
    if (!Utf8ToUtf16(path, wide)) return TYPE_E_CANTLOADLIBRARY;
    return LoadTypeLib(wide.c_str(), lib);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR fullPath, LPCOLESTR helpDir) {
  if (!lib || !fullPath) return E_INVALIDARG;
  try {
    std::string path, help;
    if (!Utf16ToUtf8(View(fullPath), path)) return E_INVALIDARG;
    if (helpDir) {
      if (!Utf16ToUtf8(View(helpDir), help)) return E_INVALIDARG;
    } else {
      help = path.substr(0, path.find_last_of('/') + 1);
    }
    TLIBATTR* attr = nullptr;
    if (HRESULT hr = lib->GetLibAttr(&attr); FAILED(hr)) return hr;
    const GUID libid = attr->guid;
    const LCID lcid = attr->lcid;
    const std::string version = Hex(attr->wMajorVerNum) + "." + Hex(attr->wMinorVerNum);
    lib->ReleaseTLibAttr(attr);
    BSTR name = nullptr, doc = nullptr;
    if (HRESULT hr = lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr); FAILED(hr))
      return hr;
    std::string title;
    Utf16ToUtf8(View(SysStringLen(doc) ? doc : name), title);
    SysFreeString(name);
    SysFreeString(doc);

    RegistryWriter writer(RegistryRoot::kClassesRoot);
    const std::string versionKey = LibraryKey(libid) + "\\" + version;
    writer.CreateKey(versionKey);
    writer.SetString(versionKey, "", title);
    // Under the locale the library declares, as Windows does: a loader asked
    // for another locale falls back to the neutral one only.
    writer.SetString(versionKey + "\\" + Hex(lcid) + "\\" + kPlatformKey, "", path);
    writer.SetString(versionKey + "\\FLAGS", "", "0");
    writer.SetString(versionKey + "\\HELPDIR", "", help);

    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
      ITypeInfo* info = nullptr;
      if (FAILED(lib->GetTypeInfo(i, &info))) continue;
      TYPEATTR* type = nullptr;
      BSTR typeName = nullptr;
      if (SUCCEEDED(info->GetTypeAttr(&type)) &&
          (type->typekind == TKIND_DISPATCH || type->typekind == TKIND_INTERFACE) &&
          (type->wTypeFlags & TYPEFLAG_FOLEAUTOMATION) &&
          SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &typeName, nullptr, nullptr, nullptr))) {
        std::string narrow;
        Utf16ToUtf8(View(typeName), narrow);
        const std::string key = "Interface\\" + GuidToString(type->guid);
        writer.SetString(key, "", narrow);
        writer.SetString(key + "\\ProxyStubClsid32", "", kAutomationMarshaler);
        writer.SetString(key + "\\TypeLib", "", GuidToString(libid));
        writer.SetString(key + "\\TypeLib", "Version", version);
      }
      SysFreeString(typeName);
      if (type) info->ReleaseTypeAttr(type);
      info->Release();
    }
    return writer.Commit() == kErrorSuccess ? S_OK : TYPE_E_REGISTRYACCESS;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND) {
  try {
    const std::string libraryKey = LibraryKey(libid);
    const std::string versionKey = libraryKey + "\\" + Hex(major) + "." + Hex(minor);
    // Nothing registered is nothing to undo.
    if (!KeyExists(versionKey)) return S_OK;

    RegistryWriter writer(RegistryRoot::kClassesRoot);
    // The interfaces come from the registered library itself; those that another
    // library has taken over since are left to it.
    std::string path;
    std::u16string wide;
    ITypeLib* lib = nullptr;
    size_t interfacesRemoved = 0;
    if (FindPath(versionKey, lcid, path) && Utf8ToUtf16(path, wide) &&
        SUCCEEDED(LoadTypeLib(wide.c_str(), &lib))) {
      for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info))) continue;
        TYPEATTR* type = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&type))) {
          const std::string key = "Interface\\" + GuidToString(type->guid);
          std::string owner;
          if (ReadDefault(key + "\\TypeLib", owner) && EqualKeyName(owner, GuidToString(libid))) {
            writer.DeleteTree(key);
            ++interfacesRemoved;
          }
          info->ReleaseTypeAttr(type);
        }
        info->Release();
      }
      lib->Release();
    }
    writer.DeleteTree(versionKey);
    // Parent keys that this registration leaves empty go as well.
    bool libraryEmpty = SubkeysOf(libraryKey).size() == 1;
    if (libraryEmpty) {
      writer.DeleteTree(libraryKey);
      if (SubkeysOf("TypeLib").size() == 1) writer.DeleteTree("TypeLib");
    }
    if (interfacesRemoved && SubkeysOf("Interface").size() == interfacesRemoved)
      writer.DeleteTree("Interface");
    return writer.Commit() == kErrorSuccess ? S_OK : TYPE_E_REGISTRYACCESS;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
