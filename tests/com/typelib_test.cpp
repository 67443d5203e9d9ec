// The COM stand-in: its reader of interface definitions, and late-bound calls
// through type information.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/compat/extras.h"
#include "platform/registry.h"
#include "tests/com/support.h"

namespace {

// ---- The stand-in's reader of interface definitions -----------------------------------

// Each parameter type the reader knows, as its type information shows it (an
// interface on IUnknown has its methods from the fourth slot on); what it
// cannot read it names.
TEST(InterfaceDefinition, ReaderKnowsEachParameterTypeAndNamesWhatItCannotRead) {
  ITypeLib* lib = nullptr;
  std::string error;
  const std::string library =
      "[uuid(A94B0FB4-2C90-4EBC-BAE6-ABAB304938E0), version(1.0)] library L {\n";
  const std::string object =
      "[object, uuid(A94B0FB4-2C90-4EBC-BAE6-ABAB304938DF)] interface I : IUnknown {";
  const std::pair<std::string, const char*> refused[] = {
      {"[object, uuid(A94B0FB4-2C90-4EBC-BAE6-ABAB304938DF), dual]\n"
       "interface I : IDispatch {\n  [id(1)] HRESULT M([in] SAFEARRAY(long) a);\n};\n",
       "line 3: unsupported parameter type 'SAFEARRAY'"},
      {"[object, uuid(A94B0FB4-2C90-4EBC-BAE6-ABAB304938DF)] interface I : IFoo {};",
       "line 1: unsupported base interface IFoo"},
      {library + "x;};", "line 2: unexpected 'x' in library"},
      {object + "[id(1)] HRESULT M(); {};", "line 1: members must return HRESULT"},
      {object + "[id(1) HRESULT M();};", "line 1: expected ','"},
      {object + "[id(1)] HRESULT M([in] long** a);};", "line 1: unsupported indirection of 'long'"},
      {object + "[id(1)] HRESULT M([out, retval] long a);};", "line 1: retval must be a pointer"},
      {object + "[id(1x)] HRESULT M();};", "member without an id"},
      {object + "[propget] HRESULT M();};", "member without an id"},
      {object + "[id(1)] HRESULT ();};", "member without a name"},
      {"[] interface I;", "line 1: expected an attribute"},
      {"[object] interface I : IUnknown {};", "line 1: missing or malformed uuid"},
      {object + "[id(1)] HRESULT M([in] IUnknown a);};", "unsupported indirection of 'IUnknown'"},
      {library + "interface {};};", "line 2: interface without a name"},
      {library + "[uuid(A94B0FB4-2C90-4EBC-BAE6-ABAB304938E2)] coclass C {interface E};};",
       "line 2: expected ';'"},
      {library + "coclass C {};};", "line 2: missing or malformed uuid"},
      {library + "[] coclass C {};};", "line 2: expected an attribute"},
      {"[uuid(A94B0FB4-2C90-4EBC-BAE6-ABAB304938E0), version(1.x)] library L {};", "a version"},
      {library + "};" + library + "};", "line 2: a second library"},
      {"import \"oaidl.idl\";", "line 1: no library statement"},
      {"[uuid(", "line 1: unclosed attribute"},
      {"[helpstring(\"a\\\"b)]\ninterface I;", "line 1: unclosed string"}};  // \" closes none
  for (const auto& [idl, says] : refused) {
    EXPECT_EQ(zentrova::platform::LoadTypeLibFromText(idl, &lib, &error), TYPE_E_CANTLOADLIBRARY);
    EXPECT_TRUE(!lib && error.find(says) != std::string::npos) << error;
  }
  // A comment, however short, ends where it ends: the word after it is whole.
  ASSERT_EQ(zentrova::platform::LoadTypeLibFromText(
                "[object, oleautomation, uuid(A94B0FB4-2C90-4EBC-BAE6-ABAB304938DF )]/**/"
                "interface I : IUnknown {[id(1)] HRESULT M([in] BSTR a, [in] long b, [in] int c, "
                "[in] short d, [in] double e, [in, optional] VARIANT f, [in] VARIANT_BOOL g, "
                "[in] IDispatch* h, [in] IUnknown* i, [in] DOUBLE k, [out, retval] LONG* "
                "j);};\ninterface E;"
                "[object, uuid(A94B0FB4-2C90-4EBC-BAE6-ABAB304938E1)] interface E : IDispatch {};\n"
                "[uuid(A94B0FB4-2C90-4EBC-BAE6-ABAB304938E0), version(1), lcid(0x409)]/*/ c */"
                "library L {\n"
                "[uuid(A94B0FB4-2C90-4EBC-BAE6-ABAB304938E2), helpstring(\"c\")] coclass C {"
                "interface E;};};\n",
                &lib, &error),
            S_OK)
      << error;
  ITypeInfo* info = nullptr;
  FUNCDESC* desc = nullptr;
  ASSERT_TRUE(lib->GetTypeInfo(0, &info) == S_OK && info->GetFuncDesc(0, &desc) == S_OK);
  EXPECT_EQ((std::vector<long>{desc->memid, desc->oVft, desc->funckind, desc->invkind,
                               desc->callconv, desc->elemdescFunc.tdesc.vt}),
            (std::vector<long>{1, 3 * 8, FUNC_PUREVIRTUAL, INVOKE_FUNC, CC_STDCALL, VT_HRESULT}));
  const VARTYPE want[] = {VT_BSTR, VT_I4,       VT_I4,      VT_I2, VT_R8, VT_VARIANT,
                          VT_BOOL, VT_DISPATCH, VT_UNKNOWN, VT_R8, VT_PTR};
  ASSERT_EQ(desc->cParams, static_cast<SHORT>(std::size(want)));
  for (SHORT i = 0; i < desc->cParams; ++i) {  // flags: in 1, out 2, retval 8, optional 0x10
    EXPECT_EQ(desc->lprgelemdescParam[i].tdesc.vt, want[i]) << i;
    EXPECT_EQ(desc->lprgelemdescParam[i].paramdesc.wParamFlags, i == 10 ? 10 : i == 5 ? 17 : 1);
  }
  info->ReleaseFuncDesc(desc), info->Release();
  // Slots end past the last member; a dispatch interface keeps IDispatch's seven, a class none.
  // Each knows its library and its place there.
  for (UINT i = 0, where = 9; i < 3; ++i) {
    TYPEATTR* attr = nullptr;
    ITypeLib* home = nullptr;
    ASSERT_TRUE(lib->GetTypeInfo(i, &info) == S_OK && info->GetTypeAttr(&attr) == S_OK &&
                info->GetContainingTypeLib(&home, &where) == S_OK)
        << i;
    EXPECT_EQ((std::vector<long>{attr->memidConstructor, attr->memidDestructor, attr->cImplTypes,
                                 attr->cbSizeInstance, attr->cbAlignment, attr->lcid,
                                 attr->wMajorVerNum * 10 + attr->wMinorVerNum, attr->cbSizeVft,
                                 attr->cFuncs, where, home->GetTypeInfoCount()}),
              (std::vector<long>{-1, -1, 1, 8, 8, 0x409, 10, std::array{4, 7, 0}[i] * 8,
                                 std::array{1, 0, 0}[i], i, 3}));
    EXPECT_EQ(attr->wTypeFlags, (std::array{0x100, 0, 2}[i])) << i;  // oleautomation, creatable
    info->ReleaseTypeAttr(attr), info->Release(), home->Release();
  }
  zentrova::testing::Bstr help;
  BSTR file = const_cast<BSTR>(u"x");  // no help file or context: both outputs are cleared
  DWORD context = 9;
  EXPECT_EQ(lib->GetDocumentation(2, nullptr, &help, &context, &file), S_OK);
  EXPECT_EQ((std::tuple{help.str(), file, context}), (std::tuple{u"c", nullptr, 0u}));
  EXPECT_EQ(RegisterTypeLib(lib, nullptr, nullptr), E_INVALIDARG);  // no file to register
  lib->Release();
}

// ---- The runtime calls ---------------------------------------------------------------------

// A missing pointer is refused, as Windows refuses it, rather than followed; and
// identifiers that differ in any one field are different.
TEST(StandIn, MissingPointersAreRefusedAndIdentifiersCompareWhole) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 2);
  ASSERT_NE(array, nullptr);
  LONG index = 0, value = 0;
  VARTYPE vt = 0;
  SAFEARRAY* copy = nullptr;
  ITypeLib* typeLib = nullptr;
  VARIANT v, w, cannotCopy;
  VariantInit(&v);
  VariantInit(&w);
  cannotCopy.vt = VT_BYREF | VT_BOOL, cannotCopy.byref = &value;
  CLSID clsid;
  const HRESULT results[] = {
      CLSIDFromString(nullptr, &clsid),
      CLSIDFromString(u"{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}", nullptr),
      CLSIDFromProgID(u"Zentrova.Any", nullptr),
      CLSIDFromProgID(nullptr, &clsid),
      SafeArrayGetVartype(nullptr, &vt),
      SafeArrayGetVartype(array, nullptr),
      SafeArrayGetLBound(nullptr, 1, &value),
      SafeArrayGetLBound(array, 1, nullptr),
      SafeArrayGetUBound(nullptr, 1, &value),
      SafeArrayGetUBound(array, 1, nullptr),
      SafeArrayGetElement(nullptr, &index, &value),
      SafeArrayGetElement(array, nullptr, &value),
      SafeArrayGetElement(array, &index, nullptr),
      SafeArrayPutElement(nullptr, &index, &value),
      SafeArrayPutElement(array, nullptr, &value),
      SafeArrayPutElement(array, &index, nullptr),
      SafeArrayCopy(nullptr, &copy),
      SafeArrayCopy(array, nullptr),
      VariantClear(nullptr),
      VariantCopy(nullptr, &v),
      VariantCopy(&w, nullptr),
      VariantCopyInd(nullptr, &v),
      VariantCopyInd(&w, nullptr),
      VariantCopyInd(nullptr, &cannotCopy),
      VariantChangeType(nullptr, &v, 0, VT_I4),
      VariantChangeType(&w, nullptr, 0, VT_I4),
      LoadTypeLib(nullptr, &typeLib),
      LoadTypeLib(u"x.dll", nullptr),
      LoadRegTypeLib(GUID{}, 1, 0, 0, nullptr),
  };
  for (std::size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], E_INVALIDARG) << i;
  // A digit past 'f' is no hexadecimal digit, nor a character beyond ASCII that narrows to
  // one ('0' of U+0130); both braces belong to the form. Small letters are digits too.
  for (const char16_t* text :
       {u"{96F7B57E-5977-4C45-80B0-5DFAF8F4E60g}", u"{96F7B57E-5977-4C45-80B0-5DFAF8F4E60\u0130}",
        u"96F7B57E-5977-4C45-80B0-5DFAF8F4E603", u"{96F7B57E-5977-4C45-80B0-5DFAF8F4E603]"})
    EXPECT_EQ(CLSIDFromString(text, &clsid), CO_E_CLASSSTRING);
  ASSERT_EQ(CLSIDFromString(u"{0000000a-000b-000c-0d0e-0f0000000000}", &clsid), S_OK);
  EXPECT_TRUE(IsEqualGUID(clsid, GUID{10, 11, 12, {13, 14, 15, 0, 0, 0, 0, 0}}));
  OLECHAR text[39];  // and back, given room for the text and its terminator
  EXPECT_EQ(StringFromGUID2(clsid, text, 38) + StringFromGUID2(clsid, text, 39), 39);
  EXPECT_EQ(std::u16string(text), u"{0000000A-000B-000C-0D0E-0F0000000000}");
  SafeArrayDestroy(array);
  EXPECT_EQ(SafeArrayCreateVector(VT_BOOL, 0, 1), nullptr);  // a type arrays cannot hold
  array = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);           // a null interface is a value to hold
  EXPECT_EQ(SafeArrayPutElement(array, &index, nullptr), S_OK);
  SafeArrayDestroy(array);

  const GUID base = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  const GUID changed[] = {{9, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}},
                          {1, 9, 3, {4, 5, 6, 7, 8, 9, 10, 11}},
                          {1, 2, 9, {4, 5, 6, 7, 8, 9, 10, 11}},
                          {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 9}}};
  for (const GUID& other : changed) EXPECT_FALSE(IsEqualGUID(base, other));
}

// ---- Late binding through type information ------------------------------------------------
// The common paths (argument order, properties, results, the usual errors) are
// exercised end to end through zcom, which cannot write floating-point values.

struct ITest : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Take(LONG number, BSTR text, VARIANT* any) = 0;
  virtual HRESULT STDMETHODCALLTYPE Five(LONG a, LONG b, LONG c, LONG d, LONG e) = 0;
  virtual HRESULT STDMETHODCALLTYPE Four(LONG a, LONG b, LONG c, LONG d) = 0;
  virtual HRESULT STDMETHODCALLTYPE None() = 0;

 protected:
  ~ITest() = default;
};

const char kTestIdl[] = R"(
/* An interface of one method,
   with a comment of each kind. */
[object, uuid(0A0B0C0D-0000-0000-0000-000000000001), dual]  // the dispatch interface
interface ITest : IDispatch
{
	[id(1)] HRESULT Take([in] long number, [in] BSTR text, VARIANT *any);
	[id(0x2)] HRESULT Five([in] long a, [in] INT b, [in] SHORT c, [in] long d, [in] long z_);
	[propputref, id(3)] HRESULT Four([in] long a, [in] long b, [in] long c, [in] long d);
	[id(4)] HRESULT None(void);
};
[uuid(0A0B0C0D-0000-0000-0000-000000000002), version(19.29), lcid(0x409), helpstring("\"")]
library TestLib { importlib("stdole2.tlb"); }; cpp_quote("x")
)";

// Index -1 documents the library itself (its attributes carry its locale); below
// it and past the last type there is nothing.
TEST(InterfaceDefinition, TheLibraryDocumentsItselfAtMinusOne) {
  ITypeLib* lib = nullptr;
  ASSERT_EQ(zentrova::platform::LoadTypeLibFromText(kTestIdl, &lib), S_OK);
  zentrova::testing::Bstr name;
  ASSERT_EQ(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(name.str(), u"TestLib");
  ASSERT_EQ(lib->GetDocumentation(0, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(name.str(), u"ITest");
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->lcid, 0x409u);
  EXPECT_EQ(attr->syskind * 10000 + attr->wMajorVerNum * 100 + attr->wMinorVerNum, 31929);
  lib->ReleaseTLibAttr(attr);
  ITypeInfo* info = nullptr;
  TYPEKIND kind;
  for (INT index : {-2, static_cast<INT>(lib->GetTypeInfoCount())})
    EXPECT_EQ((std::tuple{lib->GetDocumentation(index, &name, nullptr, nullptr, nullptr),
                          lib->GetTypeInfo(index, &info), lib->GetTypeInfoType(index, &kind)}),
              (std::tuple{TYPE_E_ELEMENTNOTFOUND, TYPE_E_ELEMENTNOTFOUND, TYPE_E_ELEMENTNOTFOUND}))
        << index;
  void* same = nullptr;  // IUnknown is the library itself, one reference more; nothing else is
  EXPECT_EQ(lib->QueryInterface(IID_ITypeInfo, &same), E_NOINTERFACE);
  ASSERT_EQ(lib->QueryInterface(IID_IUnknown, &same), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(same)->Release(), 1u);
  VARIANT held, copy{};  // a VARIANT's interface is counted by each copy
  held.vt = VT_UNKNOWN, held.punkVal = lib;
  ASSERT_TRUE(VariantCopy(&copy, &held) == S_OK && lib->AddRef() == 3 && lib->Release() == 2);
  EXPECT_TRUE(VariantClear(&copy) == S_OK && lib->Release() == 0);
  held.punkVal = nullptr;  // a null one is a value too, as is a null text or array: none is made
  for (VARTYPE vt :
       std::initializer_list<VARTYPE>{VT_UNKNOWN, VT_DISPATCH, VT_BSTR, VT_ARRAY | VT_I4}) {
    held.vt = vt;
    EXPECT_TRUE(VariantCopy(&copy, &held) == S_OK && copy.vt == vt && !copy.byref) << vt;
    EXPECT_EQ(VariantClear(&copy), S_OK);
  }
}

// A request for major.minor takes the highest registered minor version (in hexadecimal) not
// below it; one without a file for this platform (en-US, else en, else neutral) serves none.
TEST(StandIn, TheHighestMinorVersionNotBelowTheOneAskedIsLoaded) {
  using namespace zentrova::platform;
  zentrova::testing::ScratchRegistry registry;
  const GUID libid = {0x0A0B0C0D, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};
  const std::string key = "TypeLib\\{0A0B0C0D-0000-0000-0000-000000000003}\\";
  RegistryWriter w(RegistryRoot::kClassesRoot);
  for (const char* bare : {"1.1", "1.9", "2.f"}) w.CreateKey(key + bare);
  for (const char* filed : {"1.2\\9", "1.a\\9", "2.0\\9", "3.0\\0"})
    w.SetString(key + filed + "\\linux", "", "/nonexistent");
  ASSERT_EQ(w.Commit().code, kErrorSuccess);
  // Found: the file is no library. Not found: no version serves.
  const HRESULT found = TYPE_E_CANTLOADLIBRARY, none = TYPE_E_LIBNOTREGISTERED;
  const std::tuple<WORD, WORD, HRESULT> cases[] = {
      {1, 3, found}, {1, 0xa, found}, {1, 0xb, none}, {2, 0, none}, {3, 0, found}};
  ITypeLib* lib = nullptr;
  for (const auto& [major, minor, want] : cases)
    EXPECT_EQ(LoadRegTypeLib(libid, major, minor, 0x409, &lib), want) << major << "." << minor;
  // Unregistering 1.a takes its key away: 1.9, which has no file, is the best left.
  ASSERT_EQ(UnRegisterTypeLib(libid, 1, 0xa, 9, SYS_WIN32), S_OK);
  EXPECT_EQ(LoadRegTypeLib(libid, 1, 3, 0x409, &lib), none);
}

// Records what Take receives; the IDispatch half is not used.
class TestObject final : public ITest {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Take(LONG n, BSTR t, VARIANT* any) override {
    number = n;
    third = any->lVal;
    text = t ? std::u16string(t, SysStringLen(t)) : u"(null)";
    return S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE Five(LONG a, LONG b, LONG c, LONG d, LONG e) override {
    five = {a, b, c, d, e};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Four(LONG a, LONG b, LONG c, LONG d) override {
    return Five(a, b, c, d, 0);
  }
  HRESULT STDMETHODCALLTYPE None() override { return E_FAIL; }

  LONG number = 0, third = 0;
  std::u16string text;
  std::vector<LONG> five;
};

class LateBinding : public ::testing::Test {
 protected:
  void SetUp() override { Load(kTestIdl); }
  void Load(std::string_view idl) {  // the first type of the library that idl defines
    ITypeLib* lib = nullptr;
    if (info_) info_->Release(), info_ = nullptr;
    ASSERT_EQ(zentrova::platform::LoadTypeLibFromText(idl, &lib), S_OK);
    ASSERT_EQ(lib->GetTypeInfo(0, &info_), S_OK);
    lib->Release();
  }
  ~LateBinding() override {
    if (info_) info_->Release();
  }

  static VARIANT Value(VARTYPE vt, double number, const char16_t* text = nullptr) {
    VARIANT v{};  // a reference not set is to nothing
    VariantInit(&v);
    v.vt = vt;
    if (vt == VT_I4) v.lVal = static_cast<LONG>(number);
    if (vt == VT_R8) v.dblVal = number;
    if (vt == VT_BSTR) v.bstrVal = SysAllocString(text);
    return v;
  }

  // Take(number, text, any) with its arguments in call order; rgvarg holds them reversed.
  HRESULT Take(VARIANT number, VARIANT text, UINT* argError = nullptr) {
    VARIANT args[] = {Value(VT_I4, 3), text, number};
    DISPPARAMS params{args, nullptr, 3, 0};
    HRESULT hr = info_->Invoke(static_cast<ITest*>(&object_), 1, DISPATCH_METHOD, &params, nullptr,
                               nullptr, argError);
    for (VARIANT& v : args) VariantClear(&v);
    return hr;
  }

  ITypeInfo* info_ = nullptr;
  TestObject object_;
};

TEST_F(LateBinding, ArgumentsAreCoercedAsTheirParametersAsk) {
  ASSERT_EQ(Take(Value(VT_BSTR, 0, u"\t\r\n +4.2E1\n\r\t"), Value(VT_I4, -12)), S_FALSE);
  EXPECT_EQ((std::tuple{object_.number, object_.text, object_.third}), (std::tuple{42, u"-12", 3}));
  // By reference to by-value parameters: the values referred to.
  LONG referred = 41;
  SHORT shortReferred = 7;
  double half = 2.5;
  VARIANT byRef = Value(VT_BYREF | VT_I4, 0), shortByRef = Value(VT_BYREF | VT_I2, 0),
          halfByRef = Value(VT_BYREF | VT_R8, 0);
  byRef.plVal = &referred, shortByRef.piVal = &shortReferred, halfByRef.pdblVal = &half;
  ASSERT_EQ(Take(byRef, shortByRef), S_FALSE);
  EXPECT_EQ((std::tuple{object_.number, object_.text}), (std::tuple{41, u"7"}));
  ASSERT_EQ(Take(halfByRef, Value(VT_R8, 2.5)), S_FALSE);
  EXPECT_EQ((std::tuple{object_.number, object_.text}), (std::tuple{2, u"2.5"}));  // half to even
  ASSERT_EQ(Take(Value(VT_BSTR, 0, u"1e-400"), Value(VT_I4, 1)), S_FALSE);         // too small is 0
  EXPECT_EQ(object_.number, 0);

  UINT argError = 99;  // strtod would read "inf", "nan" and "0x1A"
  for (const char16_t* text : {u"inf", u"nan", u"0x1A", u"forty"})
    EXPECT_EQ(Take(Value(VT_BSTR, 0, text), Value(VT_I4, 1), &argError), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError, 2u);
  EXPECT_EQ(Take(Value(VT_R8, 3e10), Value(VT_I4, 1)), DISP_E_OVERFLOW);
  EXPECT_EQ(Take(Value(VT_R8, NAN), Value(VT_I4, 1)), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Take(Value(VT_I4, 1), Value(VT_DISPATCH, 0), &argError), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError, 1u);
  EXPECT_EQ(Take(Value(VT_BYREF | VT_I4, 0), Value(VT_I4, 1), &argError), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError, 2u);  // by reference to nothing
  // Converted in place, a value takes the type asked for, and its text back; one
  // past either end of its range (the last four) is an overflow.
  const std::pair<VARTYPE, const char16_t*> values[] = {
      {VT_I2, u"-32768"},      {VT_I2, u"32767"},      {VT_R8, u"-90"},
      {VT_I4, u"-2147483648"}, {VT_I4, u"2147483647"}, {VT_I2, u"32768"},
      {VT_I2, u"-32769"},      {VT_I4, u"2147483648"}, {VT_I4, u"-2147483649"}};
  for (std::size_t i = 0; i < std::size(values); ++i) {
    VARIANT v = Value(VT_BSTR, 0, values[i].second);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, values[i].first), i < 5 ? S_OK : DISP_E_OVERFLOW) << i;
    ASSERT_EQ(i < 5 ? VariantChangeType(&v, &v, 0, VT_BSTR) : S_OK, S_OK);
    EXPECT_EQ(v.vt == VT_BSTR ? std::u16string(v.bstrVal) : u"", values[i].second) << i;
    VariantClear(&v);
  }
  // A real, a boolean, a VARIANT or an interface by value fits no integer register: refused.
  for (std::string type : {"double", "VARIANT", "VARIANT_BOOL", "IDispatch*", "IUnknown*"}) {
    std::string idl = kTestIdl;
    ASSERT_NO_FATAL_FAILURE(Load(idl.replace(idl.find("long number"), 4, type)));
    EXPECT_EQ(Take(Value(VT_I4, 1), Value(VT_I4, 2)), DISP_E_BADVARTYPE) << type;
  }
}

// Each argument reaches its parameter, a put's value (the named one) the last; more than five,
// a missing object, parameter block, argument array or named ids, or too many named are refused.
TEST_F(LateBinding, FiveArgumentsReachTheirParameters) {
  VARIANT args[6];
  for (int i = 0; i < 6; ++i) args[i] = Value(VT_I4, 6 - i);  // reversed: the first is last
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS five{args + 1, nullptr, 5, 0}, six{args, nullptr, 6, 0}, four{args + 2, &put, 4, 1};
  ITest* object = &object_;
  ASSERT_EQ(info_->Invoke(object, 2, DISPATCH_METHOD, &five, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(object_.five, (std::vector<LONG>{1, 2, 3, 4, 5}));
  ASSERT_EQ(info_->Invoke(object, 3, DISPATCH_PROPERTYPUTREF, &four, {}, {}, {}), S_OK);
  EXPECT_EQ(object_.five, (std::vector<LONG>{1, 2, 3, 4, 0}));
  EXCEPINFO failure;  // a member without arguments; its failure is its exception
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ((std::tuple{info_->Invoke(object, 4, DISPATCH_METHOD, &none, {}, &failure, {}),
                        failure.scode}),
            (std::tuple{DISP_E_EXCEPTION, E_FAIL}));
  DISPID other = 0;  // a put's value is its one named argument; no other call names one
  const std::tuple<DISPPARAMS, MEMBERID, HRESULT> refused[] = {
      {six, 2, DISP_E_BADPARAMCOUNT},
      {{args + 2, {}, 4, 0}, 3, DISP_E_PARAMNOTOPTIONAL},
      {{args + 2, &other, 4, 1}, 3, DISP_E_PARAMNOTOPTIONAL},
      {{args + 1, &put, 5, 1}, 2, DISP_E_NONAMEDARGS}};
  for (auto [p, id, want] : refused)
    EXPECT_EQ(info_->Invoke(object, id, DISPATCH_METHOD | DISPATCH_PROPERTYPUTREF, &p, {}, {}, {}),
              want);
  DISPPARAMS bad[] = {five, {{}, {}, 5, 0}, {args + 1, {}, 5, 1}, {args, &put, 0, 1}};
  for (DISPPARAMS* p : {bad, static_cast<DISPPARAMS*>(nullptr), bad + 1, bad + 2, bad + 3})
    EXPECT_EQ(info_->Invoke(p == bad ? nullptr : object, 2, DISPATCH_METHOD, p, {}, {}, {}),
              E_INVALIDARG);
  // Names past the caller's room are not written; past the last member, nothing is found.
  BSTR names[8] = {};
  UINT count = 0, putCount = 0;
  FUNCDESC* desc = nullptr;
  EXPECT_EQ((std::tuple{info_->GetNames(2, nullptr, 3, &count), info_->GetFuncDesc(4, &desc),
                        info_->GetDocumentation(9, names, nullptr, nullptr, nullptr)}),
            (std::tuple{E_INVALIDARG, TYPE_E_ELEMENTNOTFOUND, TYPE_E_ELEMENTNOTFOUND}));
  ASSERT_EQ(info_->GetNames(2, names, 2, &count) | info_->GetNames(3, names + 3, 5, &putCount),
            S_OK);
  EXPECT_EQ((std::tuple{count, std::u16string(names[1]), names[2], putCount}),
            (std::tuple{2u, u"a", nullptr, 4u}));  // a put's value has no name
  for (BSTR name : names) SysFreeString(name);
  // Names match in any case; only letters fold.
  std::u16string words[] = {u"fIvE", u"A", u"a", u"Z_", u"z_", u"z\x7F"};
  LPOLESTR lookup[std::size(words)];
  for (std::size_t i = 0; i < std::size(words); ++i) lookup[i] = words[i].data();
  std::vector<MEMBERID> ids(std::size(words));
  EXPECT_EQ(info_->GetIDsOfNames(lookup, 0, ids.data()), E_INVALIDARG);  // none asked
  EXPECT_EQ(info_->GetIDsOfNames(lookup, std::size(words), ids.data()), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids, (std::vector<MEMBERID>{2, 0, 0, 4, 4, DISPID_UNKNOWN}));
}

}  // namespace
