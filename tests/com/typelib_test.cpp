// The COM stand-in: the server's interface definition as the type library
// publishes it, late-bound calls through type information, and the value types.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/com.h"
#include "tests/com/support.h"

namespace {

using zv_test::Bstr;

std::string ReadFile(const char* path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// ---- The server's interface definition --------------------------------------------------

struct Member {
  const char16_t* name;
  MEMBERID id;
  INVOKEKIND kind;
  VARTYPE vt;  // the parameter's type (VT_PTR | base for a pointer) or VT_EMPTY for the method
};

constexpr VARTYPE kPtr = 0x8000;  // marks a pointer in this table

// The published order, ids and kinds of ISMSInterface.
const Member kMembers[] = {
    {u"ProxyAddress", 1, INVOKE_PROPERTYGET, kPtr | VT_BSTR},
    {u"ProxyAddress", 1, INVOKE_PROPERTYPUT, VT_BSTR},
    {u"ProxyUserName", 2, INVOKE_PROPERTYGET, kPtr | VT_BSTR},
    {u"ProxyUserName", 2, INVOKE_PROPERTYPUT, VT_BSTR},
    {u"ProxyPassword", 3, INVOKE_PROPERTYPUT, VT_BSTR},
    {u"ProxyType", 4, INVOKE_PROPERTYGET, kPtr | VT_I4},
    {u"ProxyType", 4, INVOKE_PROPERTYPUT, VT_I4},
    {u"ProxyPort", 5, INVOKE_PROPERTYGET, kPtr | VT_I4},
    {u"ProxyPort", 5, INVOKE_PROPERTYPUT, VT_I4},
    {u"DeliveryMethod", 6, INVOKE_PROPERTYGET, kPtr | VT_I4},
    {u"DeliveryMethod", 6, INVOKE_PROPERTYPUT, VT_I4},
    {u"SMTPServer", 7, INVOKE_PROPERTYGET, kPtr | VT_BSTR},
    {u"SMTPServer", 7, INVOKE_PROPERTYPUT, VT_BSTR},
    {u"SMTPLoginName", 8, INVOKE_PROPERTYGET, kPtr | VT_BSTR},
    {u"SMTPLoginName", 8, INVOKE_PROPERTYPUT, VT_BSTR},
    {u"SMTPPassword", 9, INVOKE_PROPERTYGET, kPtr | VT_BSTR},
    {u"SMTPPassword", 9, INVOKE_PROPERTYPUT, VT_BSTR},
    {u"Email", 10, INVOKE_PROPERTYGET, kPtr | VT_BSTR},
    {u"Email", 10, INVOKE_PROPERTYPUT, VT_BSTR},
    {u"AccountID", 11, INVOKE_PROPERTYGET, kPtr | VT_BSTR},
    {u"AccountID", 11, INVOKE_PROPERTYPUT, VT_BSTR},
    {u"CountryCode", 12, INVOKE_PROPERTYGET, kPtr | VT_I4},
    {u"CountryCode", 12, INVOKE_PROPERTYPUT, VT_I4},
    {u"Password", 13, INVOKE_PROPERTYPUT, VT_BSTR},
    {u"ResponseText", 14, INVOKE_PROPERTYGET, kPtr | VT_BSTR},
    {u"PagoraMessage", 15, INVOKE_FUNC, VT_EMPTY},
    {u"Version", 16, INVOKE_PROPERTYGET, kPtr | VT_BSTR},
};

TEST(InterfaceDefinition, PublishesTheLibraryClassAndInterface) {
  ITypeLib* lib = nullptr;
  std::string error;
  ASSERT_EQ(zentrova::platform::LoadTypeLibFromText(ReadFile(ZV_IDL_PATH), &lib, &error), S_OK)
      << error;
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(zentrova::platform::GuidToString(attr->guid), "{2659F52D-4F8C-474C-B259-428EBFA1D80E}");
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, 0x409u);
  lib->ReleaseTLibAttr(attr);
  Bstr name, doc;
  ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(name.str(), u"ZENTROVACOM");
  EXPECT_EQ(doc.str(), u"ZentrovaCOM 1.0 Type Library");
  ASSERT_EQ(lib->GetTypeInfoCount(), 2u);

  GUID clsid;
  ASSERT_TRUE(zentrova::platform::ParseGuid("{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}", clsid));
  ITypeInfo* coclass = nullptr;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(clsid, &coclass), S_OK);
  Bstr className, classHelp;
  coclass->GetDocumentation(MEMBERID_NIL, &className, &classHelp, nullptr, nullptr);
  EXPECT_EQ(className.str(), u"SMSInterface");
  EXPECT_EQ(classHelp.str(), u"SMSInterface Class");
  coclass->Release();

  GUID iid;
  ASSERT_TRUE(zentrova::platform::ParseGuid("{A94B0FB4-2C90-4EBC-BAE6-ABAB304938DF}", iid));
  ITypeInfo* info = nullptr;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(iid, &info), S_OK);
  lib->Release();
  TYPEATTR* type = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&type), S_OK);
  EXPECT_EQ(type->cFuncs, 27);
  EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FDUAL);
  EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
  EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
  info->ReleaseTypeAttr(type);
  Bstr interfaceHelp;
  info->GetDocumentation(MEMBERID_NIL, nullptr, &interfaceHelp, nullptr, nullptr);
  EXPECT_EQ(interfaceHelp.str(), u"ISMSInterface Interface");

  for (UINT i = 0; i < 27; ++i) {
    const Member& m = kMembers[i];
    SCOPED_TRACE(std::to_string(i));
    FUNCDESC* desc = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &desc), S_OK);
    EXPECT_EQ(desc->memid, m.id);
    EXPECT_EQ(desc->invkind, m.kind);
    EXPECT_EQ(desc->oVft,
              static_cast<SHORT>((7 + i) * sizeof(void*)));  // after IUnknown and IDispatch
    Bstr memberName, help;
    info->GetDocumentation(m.id, &memberName, &help, nullptr, nullptr);
    EXPECT_EQ(memberName.str(), m.name);
    const std::u16string prefix = m.kind == INVOKE_FUNC ? u"method " : u"property ";
    EXPECT_EQ(help.str(), prefix + m.name);
    if (m.kind == INVOKE_FUNC) {
      // PagoraMessage(VARIANT* pRecipients, BSTR pMessage): no direction attributes.
      ASSERT_EQ(desc->cParams, 2);
      EXPECT_EQ(desc->lprgelemdescParam[0].tdesc.vt, VT_PTR);
      EXPECT_EQ(desc->lprgelemdescParam[0].tdesc.lptdesc->vt, VT_VARIANT);
      EXPECT_EQ(desc->lprgelemdescParam[1].tdesc.vt, VT_BSTR);
      EXPECT_EQ(desc->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_NONE);
      EXPECT_EQ(desc->lprgelemdescParam[1].paramdesc.wParamFlags, PARAMFLAG_NONE);
    } else {
      ASSERT_EQ(desc->cParams, 1);
      const ELEMDESC& p = desc->lprgelemdescParam[0];
      if (m.vt & kPtr) {
        EXPECT_EQ(p.tdesc.vt, VT_PTR);
        EXPECT_EQ(p.tdesc.lptdesc->vt, m.vt & ~kPtr);
        EXPECT_EQ(p.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
      } else {
        EXPECT_EQ(p.tdesc.vt, m.vt);
        EXPECT_EQ(p.paramdesc.wParamFlags, PARAMFLAG_FIN);
      }
    }
    info->ReleaseFuncDesc(desc);
  }
  // The value of a property put has no name in the library.
  BSTR names[3] = {};
  UINT count = 0;
  ASSERT_EQ(info->GetNames(13, names, 3, &count), S_OK);
  EXPECT_EQ(count, 1u);
  SysFreeString(names[0]);
  info->Release();
}

TEST(InterfaceDefinition, ReaderNamesWhatItCannotRead) {
  ITypeLib* lib = nullptr;
  std::string error;
  EXPECT_EQ(zentrova::platform::LoadTypeLibFromText(
                "[object, uuid(A94B0FB4-2C90-4EBC-BAE6-ABAB304938DF), dual]\n"
                "interface I : IDispatch {\n  [id(1)] HRESULT M([in] SAFEARRAY(long) a);\n};\n",
                &lib, &error),
            TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(lib, nullptr);
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;
}

// ---- Late binding through type information ------------------------------------------------

struct ITest : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Take(LONG number, BSTR text, VARIANT* any) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Value(LONG* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Value(LONG value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Fail() = 0;
  virtual HRESULT STDMETHODCALLTYPE Echo(BSTR text, BSTR* copy) = 0;

 protected:
  ~ITest() = default;
};

const char kTestIdl[] = R"(
[object, uuid(0A0B0C0D-0000-0000-0000-000000000001), dual]
interface ITest : IDispatch
{
	[id(1)] HRESULT Take([in] long number, [in] BSTR text, VARIANT *any);
	[propget, id(2)] HRESULT Value([out, retval] long *value);
	[propput, id(2)] HRESULT Value([in] long value);
	[id(3)] HRESULT Fail(void);
	[id(4)] HRESULT Echo([in] BSTR text, [out, retval] BSTR *copy);
};
[uuid(0A0B0C0D-0000-0000-0000-000000000002), version(2.1)]
library TestLib { importlib("stdole2.tlb"); };
)";

// Records what the members receive; the IDispatch half is not used.
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
  HRESULT STDMETHODCALLTYPE Take(LONG n, BSTR t, VARIANT* a) override {
    number = n;
    text = t ? std::u16string(t, SysStringLen(t)) : u"(null)";
    any = a;
    return S_FALSE;  // success codes other than S_OK reach the caller
  }
  HRESULT STDMETHODCALLTYPE get_Value(LONG* v) override {
    *v = value;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Value(LONG v) override {
    value = v;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Fail() override { return E_POINTER; }
  HRESULT STDMETHODCALLTYPE Echo(BSTR t, BSTR* copy) override {
    *copy = SysAllocStringLen(t, SysStringLen(t));
    return S_OK;
  }

  LONG number = 0, value = 0;
  std::u16string text;
  VARIANT* any = nullptr;
};

class LateBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    ITypeLib* lib = nullptr;
    ASSERT_EQ(zentrova::platform::LoadTypeLibFromText(kTestIdl, &lib), S_OK);
    ASSERT_EQ(lib->GetTypeInfo(0, &info_), S_OK);
    lib->Release();
  }
  void TearDown() override {
    if (info_) info_->Release();
  }

  static VARIANT Number(LONG n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
  }
  VARIANT Text(const char16_t* t) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(t);
    owned_.push_back(v.bstrVal);
    return v;
  }
  ~LateBinding() override {
    for (BSTR b : owned_) SysFreeString(b);
  }

  HRESULT Call(DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr,
               UINT* argError = nullptr, DISPID* named = nullptr, UINT namedCount = 0,
               EXCEPINFO* exception = nullptr) {
    args_ = std::move(args);
    DISPPARAMS params{args_.data(), named, static_cast<UINT>(args_.size()), namedCount};
    return info_->Invoke(static_cast<ITest*>(&object_), id, flags, &params, result, exception,
                         argError);
  }

  ITypeInfo* info_ = nullptr;
  TestObject object_;
  std::vector<VARIANT> args_;
  std::vector<BSTR> owned_;
};

TEST_F(LateBinding, ArgumentsArriveLastFirstAndCoerced) {
  // Take(7, "x", "any"): rgvarg holds them in reverse.
  ASSERT_EQ(Call(1, DISPATCH_METHOD, {Text(u"any"), Text(u"x"), Number(7)}), S_FALSE);
  EXPECT_EQ(object_.number, 7);
  EXPECT_EQ(object_.text, u"x");
  EXPECT_EQ(object_.any, &args_[0]);  // a VARIANT* gets the argument itself

  // Texts become numbers and numbers texts, as their parameters ask.
  VARIANT real;
  VariantInit(&real);
  real.vt = VT_R8;
  real.dblVal = 2.5;
  ASSERT_EQ(Call(1, DISPATCH_METHOD, {Number(1), Number(-12), Text(u" 42 ")}), S_FALSE);
  EXPECT_EQ(object_.number, 42);
  EXPECT_EQ(object_.text, u"-12");
  ASSERT_EQ(Call(1, DISPATCH_METHOD, {Number(1), real, real}), S_FALSE);
  EXPECT_EQ(object_.number, 2);  // half to even
  EXPECT_EQ(object_.text, u"2.5");

  UINT argError = 99;
  EXPECT_EQ(Call(1, DISPATCH_METHOD, {Number(1), Text(u"x"), Text(u"forty")}, nullptr, &argError),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError, 2u);
  real.dblVal = 3e10;
  EXPECT_EQ(Call(1, DISPATCH_METHOD, {Number(1), Text(u"x"), real}, nullptr, &argError),
            DISP_E_OVERFLOW);
  VARIANT null;
  VariantInit(&null);
  null.vt = VT_NULL;
  EXPECT_EQ(Call(1, DISPATCH_METHOD, {Number(1), null, Number(1)}, nullptr, &argError),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError, 1u);
}

TEST_F(LateBinding, OneReferenceLayerIsRemovedForVariantPointers) {
  VARIANT target = Text(u"inner");
  VARIANT byVariant;
  VariantInit(&byVariant);
  byVariant.vt = VT_BYREF | VT_VARIANT;
  byVariant.pvarVal = &target;
  ASSERT_EQ(Call(1, DISPATCH_METHOD, {byVariant, Text(u"x"), Number(1)}), S_FALSE);
  EXPECT_EQ(object_.any, &target);

  // A text by reference is passed as it came: the callee sees VT_BYREF | VT_BSTR.
  BSTR text = SysAllocString(u"ref");
  owned_.push_back(text);
  VARIANT byText;
  VariantInit(&byText);
  byText.vt = VT_BYREF | VT_BSTR;
  byText.pbstrVal = &text;
  ASSERT_EQ(Call(1, DISPATCH_METHOD, {byText, byText, Number(1)}), S_FALSE);
  EXPECT_EQ(object_.any, &args_[0]);
  EXPECT_EQ(object_.any->vt, VT_BYREF | VT_BSTR);
  EXPECT_EQ(object_.text, u"ref");  // and a BSTR parameter reads through the reference
}

TEST_F(LateBinding, PropertiesAndResults) {
  DISPID put = DISPID_PROPERTYPUT;
  ASSERT_EQ(Call(2, DISPATCH_PROPERTYPUT, {Text(u"12")}, nullptr, nullptr, &put, 1), S_OK);
  EXPECT_EQ(object_.value, 12);
  EXPECT_EQ(Call(2, DISPATCH_PROPERTYPUT, {Number(3)}), DISP_E_PARAMNOTOPTIONAL);
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(Call(2, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 12);
  ASSERT_EQ(Call(4, DISPATCH_METHOD, {Text(u"echo")}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(result.bstrVal), u"echo");
  VariantClear(&result);
}

TEST_F(LateBinding, Errors) {
  EXPECT_EQ(Call(99, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(3, DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(1, DISPATCH_METHOD, {Number(1)}), DISP_E_BADPARAMCOUNT);
  DISPID named = 0;
  EXPECT_EQ(Call(3, DISPATCH_METHOD, {Number(1)}, nullptr, nullptr, &named, 1), DISP_E_NONAMEDARGS);
  EXCEPINFO exception{};
  EXPECT_EQ(Call(3, DISPATCH_METHOD, {}, nullptr, nullptr, nullptr, 0, &exception),
            DISP_E_EXCEPTION);
  EXPECT_EQ(exception.scode, E_POINTER);
}

TEST_F(LateBinding, NamesInAnyCaseWithParameterNames) {
  std::u16string member = u"TAKE", first = u"Number", third = u"ANY", wrong = u"nothing";
  LPOLESTR names[] = {member.data(), third.data(), first.data()};
  MEMBERID ids[3] = {};
  ASSERT_EQ(info_->GetIDsOfNames(names, 3, ids), S_OK);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], 2);
  EXPECT_EQ(ids[2], 0);
  names[1] = wrong.data();
  EXPECT_EQ(info_->GetIDsOfNames(names, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

// ---- Values -----------------------------------------------------------------------------

TEST(Values, BstrCarriesItsByteLengthInFront) {
  BSTR text = SysAllocStringLen(u"a\0c", 3);
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(text) - 4, 4);
  EXPECT_EQ(prefix, 6u);
  EXPECT_EQ(SysStringLen(text), 3u);
  EXPECT_EQ(text[3], u'\0');
  SysFreeString(text);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
}

TEST(Values, ArraysKeepAnyLowerBoundAndCopyDeeply) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, -2, 3);
  ASSERT_NE(array, nullptr);
  LONG low = 0, high = 0;
  SafeArrayGetLBound(array, 1, &low);
  SafeArrayGetUBound(array, 1, &high);
  EXPECT_EQ(low, -2);
  EXPECT_EQ(high, 0);
  Bstr item(u"item");
  LONG index = 0;
  ASSERT_EQ(SafeArrayPutElement(array, &index, item.get()), S_OK);
  index = 1;
  EXPECT_EQ(SafeArrayPutElement(array, &index, item.get()), DISP_E_BADINDEX);

  VARIANT original, copy;
  VariantInit(&original);
  VariantInit(&copy);
  original.vt = VT_ARRAY | VT_BSTR;
  original.parray = array;
  ASSERT_EQ(VariantCopy(&copy, &original), S_OK);
  VariantClear(&original);  // the copy must not share the elements
  index = 0;
  Bstr out;
  ASSERT_EQ(SafeArrayGetElement(copy.parray, &index, &out), S_OK);
  EXPECT_EQ(out.str(), u"item");
  index = -2;
  Bstr empty;
  ASSERT_EQ(SafeArrayGetElement(copy.parray, &index, &empty), S_OK);
  EXPECT_EQ(empty.get(), nullptr);
  VariantClear(&copy);
}

TEST(Values, GuidTexts) {
  GUID guid;
  ASSERT_TRUE(zentrova::platform::ParseGuid("{96f7b57e-5977-4c45-80b0-5dfaf8f4e603}", guid));
  EXPECT_EQ(zentrova::platform::GuidToString(guid), "{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}");
  EXPECT_EQ(guid.Data1, 0x96F7B57Eu);
  EXPECT_EQ(guid.Data4[7], 0x03);
  EXPECT_FALSE(zentrova::platform::ParseGuid("{96F7B57E-5977-4C45-80B05DFAF8F4E603}", guid));
  EXPECT_FALSE(zentrova::platform::ParseGuid("{96F7B57E-5977-4C45-80B0-5DFAF8F4E6G3}", guid));
}

}  // namespace
