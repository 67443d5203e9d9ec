// The server as an in-process client sees it through the activation runtime:
// when the library may unload, class object and creation rules, IDispatch
// through the registered type library, and the vtable members themselves.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include <string>

#include "com/ZentrovaCOM_i.h"
#include "platform/registry.h"
#include "tests/com/support.h"

namespace {

using zv_test::Bstr;
using zv_test::ScratchRegistry;

std::string ServerPath() {
  char full[PATH_MAX];
  return realpath(ZV_SERVER_PATH, full) ? full : ZV_SERVER_PATH;
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
  void TearDown() override { CoUninitialize(); }

  static bool Loaded() {
    void* handle = dlopen(ServerPath().c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
  }

  // Calls one of the server's registration exports, as regsvr does.
  static HRESULT CallExport(const char* name) {
    void* handle = dlopen(ServerPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return E_FAIL;
    auto function = reinterpret_cast<HRESULT (*)()>(dlsym(handle, name));
    HRESULT hr = function ? function() : E_FAIL;
    dlclose(handle);
    return hr;
  }

  static void Register() { ASSERT_EQ(CallExport("DllRegisterServer"), S_OK); }

  // Only the class keys: the object can be created, but its type library is unknown.
  static void RegisterClassOnly() {
    zentrova::platform::RegistryWriter writer(zentrova::platform::RegistryRoot::kClassesRoot);
    writer.SetString("CLSID\\{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}\\InprocServer32", "",
                     ServerPath());
    ASSERT_EQ(writer.Commit(), 0);
  }

  static ISMSInterface* Create() {
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_SMSInterface, nullptr, CLSCTX_INPROC_SERVER, IID_ISMSInterface,
                               &object),
              S_OK);
    return static_cast<ISMSInterface*>(object);
  }

  static IClassFactory* Factory() {
    void* object = nullptr;
    EXPECT_EQ(CoGetClassObject(CLSID_SMSInterface, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               &object),
              S_OK);
    return static_cast<IClassFactory*>(object);
  }

  static std::u16string Text(HRESULT (STDMETHODCALLTYPE ISMSInterface::*getter)(BSTR*),
                             ISMSInterface* object) {
    Bstr value;
    EXPECT_EQ((object->*getter)(&value), S_OK);
    return value.str();
  }

  ScratchRegistry registry_;
};

// ---- When the library may unload -------------------------------------------------------

TEST_F(ServerTest, LiveObjectKeepsTheLibraryLoaded) {
  Register();
  ISMSInterface* object = Create();
  ASSERT_NE(object, nullptr);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(Loaded());
  object->Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(Loaded());
}

TEST_F(ServerTest, LockServerKeepsTheLibraryLoadedWithoutObjects) {
  Register();
  IClassFactory* factory = Factory();
  ASSERT_EQ(factory->LockServer(1), S_OK);
  factory->Release();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(Loaded());
  factory = Factory();
  ASSERT_EQ(factory->LockServer(0), S_OK);
  factory->Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(Loaded());
}

TEST_F(ServerTest, HeldClassObjectKeepsTheLibraryLoadedButTheCacheDoesNot) {
  Register();
  IClassFactory* factory = Factory();
  IClassFactory* again = Factory();
  EXPECT_EQ(factory, again);  // one cached class object
  again->Release();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(Loaded());
  factory->Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(Loaded());
}

// ---- Creation --------------------------------------------------------------------------

TEST_F(ServerTest, CreationRefusesAggregationAndUnknownInterfacesWithoutLeavingALock) {
  Register();
  IClassFactory* factory = Factory();
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(factory, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(factory->CreateInstance(factory, IID_IDispatch, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, nullptr), E_POINTER);
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  factory->Release();
  // Nothing the refused requests made may keep the library.
  CoFreeUnusedLibraries();
  EXPECT_FALSE(Loaded());
}

TEST_F(ServerTest, ObjectAnswersItsThreeInterfacesOnly) {
  Register();
  ISMSInterface* object = Create();
  void* other = nullptr;
  for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &IID_ISMSInterface}) {
    ASSERT_EQ(object->QueryInterface(*iid, &other), S_OK);
    EXPECT_EQ(other, object);
    object->Release();
  }
  const IID supportErrorInfo = {
      0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
  EXPECT_EQ(object->QueryInterface(supportErrorInfo, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
  object->Release();
}

TEST_F(ServerTest, UnknownClassIsNotAvailable) {
  Register();
  void* handle = dlopen(ServerPath().c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr);
  auto getClassObject =
      reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(dlsym(handle, "DllGetClassObject"));
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  dlclose(handle);
}

// ---- Settings --------------------------------------------------------------------------

TEST_F(ServerTest, SettingsAreSharedByObjectsAndGoWithTheLibrary) {
  Register();
  ISMSInterface* first = Create();
  Bstr id(u"CI123456"), email(u"x@y.example");
  ASSERT_EQ(first->put_AccountID(id.get()), S_OK);
  ISMSInterface* second = Create();
  EXPECT_EQ(Text(&ISMSInterface::get_AccountID, second), u"CI123456");
  ASSERT_EQ(second->put_Email(email.get()), S_OK);
  EXPECT_EQ(Text(&ISMSInterface::get_Email, first), u"x@y.example");
  first->Release();
  EXPECT_EQ(Text(&ISMSInterface::get_Email, second),
            u"x@y.example");  // releasing an object resets nothing
  ASSERT_EQ(second->put_DeliveryMethod(0), S_OK);
  second->Release();

  CoFreeUnusedLibraries();
  ASSERT_FALSE(Loaded());
  ISMSInterface* fresh = Create();
  EXPECT_EQ(Text(&ISMSInterface::get_AccountID, fresh), u"");
  EXPECT_EQ(Text(&ISMSInterface::get_Email, fresh), u"");
  LONG method = -1;
  EXPECT_EQ(fresh->get_DeliveryMethod(&method), S_OK);
  EXPECT_EQ(method, 1);
  fresh->Release();
}

TEST_F(ServerTest, MembersCheckTheirPointersAndTakeNullTexts) {
  RegisterClassOnly();
  ISMSInterface* object = Create();
  for (auto getter :
       {&ISMSInterface::get_ProxyAddress, &ISMSInterface::get_ProxyUserName,
        &ISMSInterface::get_SMTPServer, &ISMSInterface::get_SMTPLoginName,
        &ISMSInterface::get_SMTPPassword, &ISMSInterface::get_Email, &ISMSInterface::get_AccountID,
        &ISMSInterface::get_ResponseText, &ISMSInterface::get_Version})
    EXPECT_EQ((object->*getter)(nullptr), E_POINTER);
  for (auto getter : {&ISMSInterface::get_ProxyType, &ISMSInterface::get_ProxyPort,
                      &ISMSInterface::get_DeliveryMethod, &ISMSInterface::get_CountryCode})
    EXPECT_EQ((object->*getter)(nullptr), E_POINTER);

  Bstr server(u"mail.example");
  ASSERT_EQ(object->put_SMTPServer(server.get()), S_OK);
  EXPECT_EQ(object->put_SMTPServer(nullptr), S_OK);  // a null BSTR is the empty text
  EXPECT_EQ(Text(&ISMSInterface::get_SMTPServer, object), u"");

  // A text that a NUL would cut short is refused, like one too long for its buffer.
  BSTR withNul = SysAllocStringLen(u"a@b.com\0x", 9);
  EXPECT_EQ(object->put_SMTPServer(withNul), S_FALSE);
  SysFreeString(withNul);
  BSTR idWithNul = SysAllocStringLen(
      u"12345\0"
      u"6",
      7);
  EXPECT_EQ(object->put_AccountID(idWithNul), S_FALSE);
  SysFreeString(idWithNul);
  EXPECT_EQ(Text(&ISMSInterface::get_SMTPServer, object), u"");
  EXPECT_EQ(Text(&ISMSInterface::get_ResponseText, object), u"Error: Invalid Account ID");

  // A null message is no message, checked after the settings.
  Bstr email(u"a@b.com"), id(u"12345"), password(u"pw");
  object->put_Email(email.get());
  object->put_AccountID(id.get());
  object->put_Password(password.get());
  EXPECT_EQ(object->PagoraMessage(nullptr, nullptr), S_FALSE);
  EXPECT_EQ(Text(&ISMSInterface::get_ResponseText, object),
            u"Error: There is no message text to send");
  object->Release();
}

// ---- IDispatch through the type library -----------------------------------------------

TEST_F(ServerTest, DispatchFailsUntilTheTypeLibraryIsRegisteredWhileVtableCallsWork) {
  RegisterClassOnly();
  ISMSInterface* object = Create();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(Text(&ISMSInterface::get_Version, object), u"Version 1.1");

  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(object->GetTypeInfo(0, 0, &info), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(info, nullptr);
  OLECHAR name[] = u"Version";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), TYPE_E_LIBNOTREGISTERED);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(object->Invoke(16, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            TYPE_E_LIBNOTREGISTERED);

  // The next call after registration loads it.
  Register();
  ASSERT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 16);
  ASSERT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(result.bstrVal), u"Version 1.1");
  VariantClear(&result);
  object->Release();
}

TEST_F(ServerTest, TypeInformationIsOneAndNamesResolveInAnyCase) {
  Register();
  ISMSInterface* object = Create();
  UINT count = 0;
  ASSERT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ITypeInfo *first = nullptr, *fifth = nullptr;
  ASSERT_EQ(object->GetTypeInfo(0, 0x409, &first), S_OK);
  ASSERT_EQ(object->GetTypeInfo(5, 0x409, &fifth), S_OK);
  EXPECT_EQ(first, fifth);
  EXPECT_EQ(object->GetTypeInfo(0, 0x409, nullptr), E_POINTER);
  Bstr typeName;
  ASSERT_EQ(first->GetDocumentation(MEMBERID_NIL, &typeName, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(typeName.str(), u"ISMSInterface");
  first->Release();
  fifth->Release();

  struct Case {
    std::u16string name;
    DISPID id;
  };
  // Exact spellings come from the name cache, other cases from the type information.
  for (const Case& c : {Case{u"ProxyAddress", 1}, Case{u"proxyaddress", 1}, Case{u"SMTPServer", 7},
                        Case{u"smtpSERVER", 7}, Case{u"PagoraMessage", 15}, Case{u"VERSION", 16}}) {
    std::u16string text = c.name;
    LPOLESTR names[] = {text.data()};
    DISPID id = 0;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, c.id);
  }
  std::u16string method = u"PagoraMessage", parameter = u"pmessage", unknown = u"Nope";
  LPOLESTR withParameter[] = {method.data(), parameter.data()};
  DISPID ids[2] = {};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, withParameter, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 15);
  EXPECT_EQ(ids[1], 1);
  LPOLESTR missing[] = {unknown.data()};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, missing, 1, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  object->Release();
}

}  // namespace
