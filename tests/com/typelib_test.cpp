// The COM stand-in: its reader of interface definitions, and late-bound calls
// through type information.
#include <gtest/gtest.h>

#include <string>

#include "platform/com.h"
#include "platform/compat/extras.h"
#include "tests/com/support.h"

namespace {

// ---- The stand-in's reader of interface definitions -----------------------------------

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
// The common paths (argument order, properties, results, the usual errors) are
// exercised end to end through zcom, which cannot write floating-point values.

struct ITest : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Take(LONG number, BSTR text, VARIANT* any) = 0;

 protected:
  ~ITest() = default;
};

const char kTestIdl[] = R"(
[object, uuid(0A0B0C0D-0000-0000-0000-000000000001), dual]
interface ITest : IDispatch
{
	[id(1)] HRESULT Take([in] long number, [in] BSTR text, VARIANT *any);
};
[uuid(0A0B0C0D-0000-0000-0000-000000000002), version(2.1)]
library TestLib { importlib("stdole2.tlb"); };
)";

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
  HRESULT STDMETHODCALLTYPE Take(LONG n, BSTR t, VARIANT*) override {
    number = n;
    text = t ? std::u16string(t, SysStringLen(t)) : u"(null)";
    return S_FALSE;
  }

  LONG number = 0;
  std::u16string text;
};

class LateBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    ITypeLib* lib = nullptr;
    ASSERT_EQ(zentrova::platform::LoadTypeLibFromText(kTestIdl, &lib), S_OK);
    ASSERT_EQ(lib->GetTypeInfo(0, &info_), S_OK);
    lib->Release();
  }
  ~LateBinding() override {
    if (info_) info_->Release();
  }

  static VARIANT Value(VARTYPE vt, double number, const char16_t* text = nullptr) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    if (vt == VT_I4) v.lVal = static_cast<LONG>(number);
    if (vt == VT_R8) v.dblVal = number;
    if (vt == VT_BSTR) v.bstrVal = SysAllocString(text);
    return v;
  }

  // Take(number, text, any) with its arguments in call order; rgvarg holds them reversed.
  HRESULT Take(VARIANT number, VARIANT text, UINT* argError = nullptr) {
    VARIANT args[] = {Value(VT_I4, 0), text, number};
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
  ASSERT_EQ(Take(Value(VT_BSTR, 0, u" 42 "), Value(VT_I4, -12)), S_FALSE);
  EXPECT_EQ(object_.number, 42);
  EXPECT_EQ(object_.text, u"-12");
  ASSERT_EQ(Take(Value(VT_R8, 2.5), Value(VT_R8, 2.5)), S_FALSE);
  EXPECT_EQ(object_.number, 2);  // half to even
  EXPECT_EQ(object_.text, u"2.5");

  UINT argError = 99;
  EXPECT_EQ(Take(Value(VT_BSTR, 0, u"forty"), Value(VT_I4, 1), &argError), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError, 2u);
  EXPECT_EQ(Take(Value(VT_R8, 3e10), Value(VT_I4, 1)), DISP_E_OVERFLOW);
  EXPECT_EQ(Take(Value(VT_R8, -3e10), Value(VT_I4, 1)), DISP_E_OVERFLOW);
  EXPECT_EQ(Take(Value(VT_I4, 1), Value(VT_NULL, 0), &argError), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError, 1u);
}

}  // namespace
