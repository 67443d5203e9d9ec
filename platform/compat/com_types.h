// The stand-in's declarations of COM and OLE Automation, as far as the kit and
// its clients use them: Windows' names, values and binary layout (vtable order,
// BSTR length prefix, VARIANT and SAFEARRAY records), so that the server's
// sources compile unchanged against these or the system's headers. The names
// stay in the global namespace for that reason. Include "platform/com.h", not
// this file.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Basic types -----------------------------------------------------------

typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef int16_t SHORT;
typedef uint8_t BYTE;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int BOOL;
typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef DWORD LCID;
typedef LONG DISPID;
typedef LONG MEMBERID;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;

#define STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT STDMETHODCALLTYPE

// ---- HRESULT values (Win32's) ----------------------------------------------

inline constexpr HRESULT MakeHr(uint32_t v) { return static_cast<HRESULT>(v); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHr(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHr(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHr(0x80004003);
inline constexpr HRESULT E_FAIL = MakeHr(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHr(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = MakeHr(0x80070005);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHr(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHr(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHr(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHr(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHr(0x80040154);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeHr(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHr(0x800401F3);
inline constexpr HRESULT CO_E_ERRORINDLL = MakeHr(0x800401F9);
inline constexpr HRESULT TYPE_E_REGISTRYACCESS = MakeHr(0x8002801C);
inline constexpr HRESULT TYPE_E_LIBNOTREGISTERED = MakeHr(0x8002801D);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeHr(0x8002802B);
inline constexpr HRESULT TYPE_E_CANTLOADLIBRARY = MakeHr(0x80029C4A);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHr(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHr(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHr(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHr(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHr(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = MakeHr(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHr(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = MakeHr(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHr(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = MakeHr(0x8002000B);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = MakeHr(0x8002000D);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHr(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeHr(0x8002000F);

inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }
inline constexpr HRESULT HRESULT_FROM_WIN32(long error) {
  return error <= 0 ? static_cast<HRESULT>(error)
                    : MakeHr((static_cast<uint32_t>(error) & 0xFFFF) | 0x80070000u);
}

// ---- GUIDs -----------------------------------------------------------------

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

inline constexpr IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_IUnknown = {0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ITypeInfo = {0x00020401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ITypeLib = {0x00020402, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (39 characters with the NUL); 0 if cch is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR out, int cch);
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);

// ---- BSTR: UTF-16 with a 4-byte byte-length prefix ---------------------------

BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);  // text may be null: zeroed
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);
void SysFreeString(BSTR text);

// ---- VARIANT and SAFEARRAY --------------------------------------------------

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_VOID = 24,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct IUnknown;
struct IDispatch;
struct ITypeInfo;
struct ITypeLib;
struct SAFEARRAY;
struct VARIANT;
typedef VARIANT VARIANTARG;

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    int64_t llVal;
    LONG lVal;
    SHORT iVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    SHORT* piVal;
    LONG* plVal;
    double* pdblVal;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    SAFEARRAY** pparray;
    VARIANT* pvarVal;
    void* byref;
    struct {
      void* pvRecord;
      void* pRecInfo;
    } record;  // keeps Windows' size: 24 bytes on 64-bit
  };
};

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};

inline constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
inline constexpr USHORT FADF_BSTR = 0x0100;
inline constexpr USHORT FADF_UNKNOWN = 0x0200;
inline constexpr USHORT FADF_DISPATCH = 0x0400;
inline constexpr USHORT FADF_VARIANT = 0x0800;

void VariantInit(VARIANTARG* v);
HRESULT VariantClear(VARIANTARG* v);
HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);
HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src);  // one by-reference layer removed
// Coerces src (by reference or not) to vt, which is VT_I2, VT_I4, VT_R8 or VT_BSTR.
// DISP_E_TYPEMISMATCH when the value has no such form, DISP_E_OVERFLOW when it
// does not fit. The conversion of numbers to and from text is locale-neutral.
inline constexpr WORD VARIANT_NOVALUEPROP = 0x01;
HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, WORD flags, VARTYPE vt);

// One-dimensional arrays of VT_I2, VT_I4, VT_R8, VT_BSTR, VT_VARIANT, VT_UNKNOWN or VT_DISPATCH.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
UINT SafeArrayGetDim(SAFEARRAY* array);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound);
// Copies the element out (a new BSTR, a VariantCopy, an AddRef'd interface).
HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* out);
// Copies value in, replacing (and releasing) the element's previous value.
HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value);
HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy);

// ---- Interfaces --------------------------------------------------------------
// Abstract classes without a virtual destructor, so that the vtable holds exactly
// the methods in COM's order; objects are destroyed by their own Release.

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

struct DISPPARAMS {
  VARIANTARG* rgvarg;  // the arguments in reverse order
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 8;
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;
inline constexpr MEMBERID MEMBERID_NIL = -1;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

struct IDispatch : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                  LCID lcid, DISPID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                           DISPPARAMS* params, VARIANT* result,
                                           EXCEPINFO* exception, UINT* argError) = 0;

 protected:
  ~IDispatch() = default;
};

// ---- Type information -----------------------------------------------------

enum TYPEKIND {
  TKIND_ENUM,
  TKIND_RECORD,
  TKIND_MODULE,
  TKIND_INTERFACE,
  TKIND_DISPATCH,
  TKIND_COCLASS
};
enum FUNCKIND { FUNC_VIRTUAL, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };
enum INVOKEKIND {
  INVOKE_FUNC = 1,
  INVOKE_PROPERTYGET = 2,
  INVOKE_PROPERTYPUT = 4,
  INVOKE_PROPERTYPUTREF = 8
};
enum CALLCONV { CC_CDECL = 1, CC_STDCALL = 4 };
enum SYSKIND { SYS_WIN16, SYS_WIN32, SYS_MAC, SYS_WIN64 };

inline constexpr USHORT PARAMFLAG_NONE = 0;
inline constexpr USHORT PARAMFLAG_FIN = 0x01;
inline constexpr USHORT PARAMFLAG_FOUT = 0x02;
inline constexpr USHORT PARAMFLAG_FLCID = 0x04;
inline constexpr USHORT PARAMFLAG_FRETVAL = 0x08;
inline constexpr USHORT PARAMFLAG_FOPT = 0x10;

inline constexpr WORD TYPEFLAG_FAPPOBJECT = 0x01;
inline constexpr WORD TYPEFLAG_FCANCREATE = 0x02;
inline constexpr WORD TYPEFLAG_FDUAL = 0x40;
inline constexpr WORD TYPEFLAG_FOLEAUTOMATION = 0x100;
inline constexpr WORD TYPEFLAG_FDISPATCHABLE = 0x1000;

struct TYPEDESC {
  union {
    TYPEDESC* lptdesc;  // for VT_PTR
    DWORD hreftype;
  };
  VARTYPE vt;
};

struct PARAMDESC {
  void* pparamdescex;
  USHORT wParamFlags;
};

struct IDLDESC {
  ULONG* dwReserved;
  USHORT wIDLFlags;
};

struct ELEMDESC {
  TYPEDESC tdesc;
  union {
    IDLDESC idldesc;
    PARAMDESC paramdesc;
  };
};

struct TYPEATTR {
  GUID guid;
  LCID lcid;
  DWORD dwReserved;
  MEMBERID memidConstructor;
  MEMBERID memidDestructor;
  LPOLESTR lpstrSchema;
  ULONG cbSizeInstance;
  TYPEKIND typekind;
  WORD cFuncs;
  WORD cVars;
  WORD cImplTypes;
  WORD cbSizeVft;
  WORD cbAlignment;
  WORD wTypeFlags;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  TYPEDESC tdescAlias;
  IDLDESC idldescType;
};

struct FUNCDESC {
  MEMBERID memid;
  SCODE* lprgscode;
  ELEMDESC* lprgelemdescParam;
  FUNCKIND funckind;
  INVOKEKIND invkind;
  CALLCONV callconv;
  SHORT cParams;
  SHORT cParamsOpt;
  SHORT oVft;
  SHORT cScodes;
  ELEMDESC elemdescFunc;
  WORD wFuncFlags;
};

struct TLIBATTR {
  GUID guid;
  LCID lcid;
  SYSKIND syskind;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  WORD wLibFlags;
};

// Members this kit does not use keep their slot (and answer E_NOTIMPL) so
// that the ones after them sit where COM puts them.
struct ITypeInfo : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** attr) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeComp(void** comp) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** desc) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, void** desc) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNames(MEMBERID id, BSTR* names, UINT max, UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, DWORD* ref) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* flags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(void* instance, MEMBERID id, WORD flags,
                                           DISPPARAMS* params, VARIANT* result,
                                           EXCEPINFO* exception, UINT* argError) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc,
                                                     DWORD* helpContext, BSTR* helpFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID id, INVOKEKIND kind, BSTR* dll, BSTR* name,
                                                WORD* ordinal) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRefTypeInfo(DWORD ref, ITypeInfo** info) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID id, INVOKEKIND kind,
                                                    void** address) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMops(MEMBERID id, BSTR* mops) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** lib, UINT* index) = 0;
  virtual void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* attr) = 0;
  virtual void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* desc) = 0;
  virtual void STDMETHODCALLTYPE ReleaseVarDesc(void* desc) = 0;

 protected:
  ~ITypeInfo() = default;
};

struct ITypeLib : IUnknown {
  virtual UINT STDMETHODCALLTYPE GetTypeInfoCount() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** info) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* kind) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** attr) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeComp(void** comp) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* name, BSTR* doc,
                                                     DWORD* helpContext, BSTR* helpFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsName(LPOLESTR name, ULONG hash, BOOL* found) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindName(LPOLESTR name, ULONG hash, ITypeInfo** infos,
                                             MEMBERID* ids, USHORT* found) = 0;
  virtual void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* attr) = 0;

 protected:
  ~ITypeLib() = default;
};

// A type library is loaded from the file that embeds it (resource "TYPELIB" 1).
HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** lib);
// Finds the library's registration under HKEY_CLASSES_ROOT\TypeLib and loads it;
// TYPE_E_LIBNOTREGISTERED when it is not registered.
HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib);
// Records the library and its automation interfaces under HKEY_CLASSES_ROOT.
HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR fullPath, LPCOLESTR helpDir);
HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);

// ---- Activation: the COM runtime's part for in-process servers ----------------

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

HRESULT CoInitializeEx(void* reserved, DWORD flags);
void CoUninitialize();
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID riid,
                         void** object);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object);
// Unloads every loaded server whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();
