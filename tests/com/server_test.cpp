// The server as an in-process client sees it through the activation runtime:
// when the library may unload, class object and creation rules, IDispatch
// through the registered type library, and the vtable members themselves.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "com/ZentrovaCOM_i.h"
#include "platform/compat/extras.h"
#include "platform/registry.h"
#include "platform/resource.h"
#include "tests/com/support.h"
#include "tests/support/secret_watch.h"

namespace {

using zentrova::testing::Bstr;
using zentrova::testing::Create;
using zentrova::testing::RealPath;
using zentrova::testing::ScratchRegistry;

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
  void TearDown() override { CoUninitialize(); }

  // Whether the library is still loaded once the runtime frees what it may.
  static bool LoadedAfterFree() {
    CoFreeUnusedLibraries();
    void* handle = dlopen(RealPath(ZV_SERVER_PATH).c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
  }

  static void Register() {
    ASSERT_EQ(zentrova::testing::CallExport(ZV_SERVER_PATH, "DllRegisterServer"), S_OK);
  }

  // Only the class keys: the object can be created, but its type library is unknown.
  static void RegisterClassOnly(const std::string& library = RealPath(ZV_SERVER_PATH),
                                const char* clsid = "{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}") {
    zentrova::platform::RegistryWriter writer(zentrova::platform::RegistryRoot::kClassesRoot);
    writer.SetString("CLSID\\" + std::string(clsid) + "\\InprocServer32", "", library);
    ASSERT_EQ(writer.Commit().code, 0);
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

// ---- When the library may unload, and creation --------------------------------------

TEST_F(ServerTest, ObjectsLocksAndHeldClassObjectsKeepTheLibraryLoaded) {
  Register();
  ISMSInterface* object = Create();
  ASSERT_NE(object, nullptr);
  EXPECT_TRUE(LoadedAfterFree());
  EXPECT_EQ(object->Release(), 0u);  // the last reference
  ASSERT_FALSE(LoadedAfterFree());

  for (const int lock : {1, 0}) {  // a lock outlives the class object it was taken on
    IClassFactory* factory = Factory();
    ASSERT_EQ(factory->LockServer(lock), S_OK);
    factory->Release();
    ASSERT_EQ(LoadedAfterFree(), lock == 1);
  }

  // A held class object counts; the runtime's own cache of it does not.
  IClassFactory* factory = Factory();
  IClassFactory* again = Factory();
  EXPECT_EQ(factory, again);
  again->Release();
  EXPECT_TRUE(LoadedAfterFree());
  factory->Release();
  EXPECT_FALSE(LoadedAfterFree());
}

TEST_F(ServerTest, CreationRefusesAggregationAndUnknownInterfacesWithoutLeavingALock) {
  Register();
  IClassFactory* factory = Factory();
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(factory, IID_IDispatch, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  factory->Release();
  EXPECT_FALSE(LoadedAfterFree());
  // A class with no key; one whose library is gone; one whose library makes no class objects.
  EXPECT_EQ(CoCreateInstance(IID_IUnknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  for (auto [library, says] : {std::pair{"/nonexistent/libZentrovaCOM.so", HRESULT_FROM_WIN32(126)},
                               {ZV_HALF_SERVER_PATH, CO_E_ERRORINDLL}}) {
    RegisterClassOnly(library);
    EXPECT_EQ(CoCreateInstance(CLSID_SMSInterface, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              says) << library;
  }
  std::string text, error;  // the library's type library is number 1, but no registration script
  EXPECT_FALSE(zentrova::platform::LoadModuleResource(RealPath(ZV_SERVER_PATH), "REGISTRY", 1, text,
                                                      &error));
  EXPECT_TRUE(error.ends_with(" holds no resource REGISTRY 1")) << error;
  // A class the library does not make is refused without a reason: the last one is gone.
  RegisterClassOnly(RealPath(ZV_SERVER_PATH), "{00020400-0000-0000-C000-000000000046}");
  EXPECT_EQ(CoCreateInstance(IID_IDispatch, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(zentrova::platform::ActivationErrorText(), "");
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
  EXPECT_EQ(first->put_CountryCode(1000), S_FALSE);  // its refusal, too, is seen by both
  EXPECT_EQ(Text(&ISMSInterface::get_ResponseText, second), u"Error: Invalid country code");
  first->Release();
  EXPECT_EQ(Text(&ISMSInterface::get_Email, second), u"x@y.example");  // release resets nothing
  second->Release();

  ASSERT_FALSE(LoadedAfterFree());
  ISMSInterface* fresh = Create();
  EXPECT_EQ(Text(&ISMSInterface::get_AccountID, fresh), u"");
  EXPECT_EQ(Text(&ISMSInterface::get_Email, fresh), u"");
  fresh->Release();
}

// Loading the library reads no setting (Windows loads it under the loader
// lock, where the registry must not be touched): a trace file named after the
// load, under the machine's key, still counts from the first object on.
// A send leaves the password in no block the server gives back, nor in the
// settings it keeps until it unloads.
TEST_F(ServerTest, TheTraceIsReadAtFirstUseAndThePasswordIsInNoFreedBlockAfterAnUnload) {
  Register();
  ASSERT_FALSE(LoadedAfterFree());
  unsetenv("ZENTROVA_TRACE");
  void* handle = dlopen(RealPath(ZV_SERVER_PATH).c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr);
  zentrova::testing::RawListener gateway;
  zentrova::testing::TempDir dir;
  zentrova::platform::RegistryWriter writer(zentrova::platform::RegistryRoot::kCurrentUser),
      machine(zentrova::platform::RegistryRoot::kLocalMachine);
  writer.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", "HTTP1", gateway.Address());
  machine.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", "TraceFile", dir.File("trace"));
  ASSERT_TRUE(writer.Commit().code == 0 && machine.Commit().code == 0);
  // Longer than a string object holds in itself: every copy is a heap block.
  const char secret[] = "pw-to-wipe-0123456789abcdef";
  std::u16string list = u"0412345678";
  for (int i = 0; i < 99; ++i) list += u",0412345678";  // a document that grows as it is built
  Bstr id(u"123456"), email(u"x@y.example"), password(u"pw-to-wipe-0123456789abcdef"),
      number(list.c_str()), text(u"Hi");
  VARIANT to;
  to.vt = VT_BSTR, to.bstrVal = number.get();
  int left = -1;
  {
    zentrova::testing::SecretWatch watch(secret);
    ISMSInterface* object = Create();
    ASSERT_NE(object, nullptr);
    ASSERT_TRUE(object->put_AccountID(id.get()) == S_OK && object->put_Email(email.get()) == S_OK &&
                object->put_Password(password.get()) == S_OK);
    EXPECT_EQ(object->PagoraMessage(&to, text.get()), S_OK);
    object->Release();
    dlclose(handle);
    EXPECT_FALSE(LoadedAfterFree());
    left = watch.LeftInFreedBlocks();
  }
  EXPECT_EQ(gateway.Requests().size(), 1u);
  EXPECT_EQ(left, 0) << "heap blocks given back still holding the password";
  const std::string trace = zentrova::testing::ReadFile(dir.File("trace"));
  EXPECT_NE(trace.find(" result code=1 text=\"\"\n"), std::string::npos) << trace;
}

// Wherever a send runs out of memory, the call fails and says so; and once memory is there
// again, the same object sends (no handle is left half-used).
TEST_F(ServerTest, RunningOutOfMemoryAnywhereInASendFailsWithItsText) {
  RegisterClassOnly();
  zentrova::testing::RawListener gateway;
  zentrova::platform::RegistryWriter writer(zentrova::platform::RegistryRoot::kCurrentUser);
  writer.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", "HTTP1", gateway.Address());
  ASSERT_EQ(writer.Commit().code, 0);
  ISMSInterface* object = Create();
  ASSERT_NE(object, nullptr);
  Bstr id(u"123456"), email(u"x@y.example"), password(u"secret"), number(u"0412345678"),
      text(u"Hi");
  ASSERT_TRUE(object->put_AccountID(id.get()) == S_OK && object->put_Email(email.get()) == S_OK &&
              object->put_Password(password.get()) == S_OK);
  VARIANT to;
  to.vt = VT_BSTR, to.bstrVal = number.get();
  for (int n = 0; n < 5000; ++n) {
    zentrova::testing::FailAllocation(n);
    const HRESULT hr = object->PagoraMessage(&to, text.get());
    const bool failed = zentrova::testing::AllocationFailed();
    const std::u16string response = Text(&ISMSInterface::get_ResponseText, object);
    if (!failed) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(response, u"");
      EXPECT_GT(n, 0);
      break;
    }
    // The reply not held once the request went out is the transport's failure, which says so.
    EXPECT_EQ(hr, S_FALSE) << n;
    EXPECT_TRUE(response == u"Error: Could no allocate memory" ||
                response.find(u"HTTP error: there is not enough memory to hold the server's reply;") == 0)
        << n;
  }
  object->Release();
}

TEST_F(ServerTest, NullTextsAreEmptyAndTextsANulWouldCutAreRefused) {
  RegisterClassOnly();
  ISMSInterface* object = Create();
  EXPECT_EQ(object->get_SMTPServer(nullptr), E_POINTER);
  Bstr server(u"mail.example");
  ASSERT_EQ(object->put_SMTPServer(server.get()), S_OK);
  EXPECT_EQ(object->put_SMTPServer(nullptr), S_OK);
  EXPECT_EQ(Text(&ISMSInterface::get_SMTPServer, object), u"");

  Bstr withNul(u"a@b.com\0x", 9), idWithNul(u"12345\0006", 7);  // \000, then 6
  EXPECT_EQ(object->put_SMTPServer(withNul.get()), S_FALSE);
  EXPECT_EQ(Text(&ISMSInterface::get_ResponseText, object),
            u"Error: The SMTPServer text holds a NUL character, which cannot be stored.");
  Bstr nulThenControl(u"a\0\x01", 3);  // the control character is named, wherever it stands
  EXPECT_EQ(object->put_SMTPServer(nulThenControl.get()), S_FALSE);
  EXPECT_EQ(Text(&ISMSInterface::get_ResponseText, object),
            u"Error: The SMTPServer text holds a control character (U+0001): line breaks, tabs and "
            u"other control characters are not allowed.");
  EXPECT_EQ(object->put_AccountID(idWithNul.get()), S_FALSE);
  EXPECT_EQ(Text(&ISMSInterface::get_SMTPServer, object), u"");
  EXPECT_EQ(Text(&ISMSInterface::get_ResponseText, object), u"Error: Invalid Account ID");
  object->Release();
}

// ---- IDispatch through the type library -----------------------------------------------

TEST_F(ServerTest, DispatchFailsUntilTheTypeLibraryIsRegisteredWhileVtableCallsWork) {
  RegisterClassOnly();
  ISMSInterface* object = Create();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(Text(&ISMSInterface::get_Version, object), u"Version 1.1");

  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_TRUE(object->GetTypeInfo(0, 0, &info) == TYPE_E_LIBNOTREGISTERED && !info);
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
  object->Release();
}

TEST_F(ServerTest, TypeInformationIgnoresItsIndexAndNamesResolveInAnyCase) {
  Register();
  ISMSInterface* object = Create();
  UINT count = 0;
  EXPECT_EQ((std::tuple{object->GetTypeInfoCount(&count), count}), (std::tuple{S_OK, 1u}));
  ITypeInfo *first = nullptr, *fifth = nullptr;
  ASSERT_EQ(object->GetTypeInfo(0, 0x409, &first), S_OK);
  ASSERT_EQ(object->GetTypeInfo(5, 0x409, &fifth), S_OK);
  EXPECT_EQ(first, fifth);
  // Nothing to name, or nowhere to put the ids, is refused rather than followed.
  std::u16string member = u"Version";
  LPOLESTR one[] = {member.data()};
  MEMBERID ids[1] = {};
  EXPECT_EQ(first->GetIDsOfNames(one, 1, nullptr), E_INVALIDARG);
  EXPECT_EQ(first->GetIDsOfNames(nullptr, 1, ids), E_INVALIDARG);
  EXPECT_EQ(first->GetIDsOfNames(one, 0, ids), E_INVALIDARG);
  first->Release();
  fifth->Release();

  // Exact spellings come from the name cache, other cases from the type information.
  for (const auto& [name, expected] : {std::pair<std::u16string, DISPID>{u"SMTPServer", 7},
                                       {u"smtpSERVER", 7},
                                       {u"PagoraMessage", 15},
                                       {u"VERSION", 16},
                                       {u"Nope", DISPID_UNKNOWN}}) {
    std::u16string text = name;
    LPOLESTR names[] = {text.data()};
    DISPID id = 0;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id),
              expected == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK);
    EXPECT_EQ(id, expected);
  }
  object->Release();
}

}  // namespace
