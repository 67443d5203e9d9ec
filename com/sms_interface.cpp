// SMSInterface: COM identity, IDispatch and the property members.
#include "com/sms_interface.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "com/module.h"
#include "com/validation.h"
#include "platform/codepage.h"
#include "platform/ole_text.h"
#include "platform/wipe.h"

namespace zentrova::com {
namespace {

constexpr char kVersion[] = "Version 1.1";
constexpr char kBadProxyType[] =
    "Error: Invalid proxy type.\n\nValid types are: \n  0 = No Proxy, 1 = IE Proxy, 2 = Specific "
    "Proxy";
constexpr char kBadProxyPort[] = "Error: Invalid proxy port";
constexpr char kBadDeliveryMethod[] =
    "Error: Invalid delivery moethod.\n\nValid options are: 0 = SMTP (Email), 1 = HTTP (Web) and 2 "
    "= HTTP with "
    "SMTP fallback.";
constexpr char kBadCountryCode[] = "Error: Invalid country code";
constexpr char kBadAccountId[] = "Error: Invalid Account ID";

// No exception leaves a member: running out of memory is E_OUTOFMEMORY.
template <class F>
HRESULT Guarded(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// Runs action on the module's settings under its lock.
template <class Action>
decltype(auto) Locked(Action&& action) {
  return CurrentModule()->WithSettings(std::forward<Action>(action));
}

// A setter's rejection: the reason goes to ResponseText, the value stays.
HRESULT Reject(std::string message) {
  Locked([&](ModuleSettings& s) { s.responseText = std::move(message); });
  return S_FALSE;
}

// The first C0 or C1 control character or DEL in value, or 0 (a NUL has a
// reason of its own).
unsigned FirstControl(BSTR value) {
  for (const OLECHAR c : platform::BstrView(value))
    if ((c > 0 && c < 0x20) || (c >= 0x7F && c <= 0x9F)) return static_cast<unsigned>(c);
  return 0;
}

enum class Controls { kAllowed, kRefused };

// Stores a text property in the buffer that field picks out of the settings. A
// value that does not fit the buffer, that the code page cannot hold or that a
// NUL would cut short is refused rather than cut or altered: these are
// addresses and passwords, and a changed one fails later in a way that is hard
// to trace back. Texts that go into a line of the request or of a mail refuse
// control characters too: a line break there would start a line of the
// sender's choosing.
template <class Field>
HRESULT PutText(BSTR value, Field field, const char* property, Controls controls) {
  constexpr size_t N = sizeof(std::invoke_result_t<Field, SharedSettings&>);
  std::string text;
  platform::WipeOnExit wipeText(text);  // the password is one of these texts
  bool lossy = false;
  // The whole BSTR, a NUL inside it included.
  if (!platform::OleToAnsi(platform::BstrView(value), text, &lossy)) return E_OUTOFMEMORY;
  const std::string name = std::string("Error: The ") + property + " text";
  if (const unsigned c = FirstControl(value); c && controls == Controls::kRefused) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", c);
    return Reject(name + " holds a control character (" + code +
                  "): line breaks, tabs and other control characters are not allowed.");
  }
  if (lossy)
    return Reject(name + " holds characters that the system code page (" +
                  std::to_string(platform::AnsiCodePage()) + ") cannot represent.");
  if (text.find('\0') != std::string::npos)
    return Reject(name + " holds a NUL character, which cannot be stored.");
  if (text.size() >= N)
    return Reject(name + " is too long: at most " + std::to_string(N - 1) +
                  " characters are allowed.");
  Locked([&](ModuleSettings& s) { std::memcpy(field(s), text.c_str(), text.size() + 1); });
  return S_OK;
}

HRESULT ToBstr(std::string_view stored, BSTR* out) {
  if (!out) return E_POINTER;
  BSTR result = platform::AllocBstrFromAnsi(stored);
  if (!result) return E_OUTOFMEMORY;  // the conversion, too, fails only for want of memory
  *out = result;
  return S_OK;
}

// A text setting, copied under the lock and converted outside it.
template <class Field>
HRESULT GetText(Field field, BSTR* out) {
  if (!out) return E_POINTER;
  return ToBstr(Locked([&](ModuleSettings& s) { return std::string(field(s)); }), out);
}

template <class Field>
HRESULT GetNumber(Field field, LONG* out) {
  if (!out) return E_POINTER;
  *out = Locked([&](ModuleSettings& s) { return LONG{field(s)}; });
  return S_OK;
}

// A number setting: stored when check passes, else refused with reason.
template <class Field, class Check>
HRESULT PutNumber(LONG value, Field field, Check check, const char* reason) {
  if (!check(value)) return Reject(reason);
  Locked([&](ModuleSettings& s) { field(s) = value; });
  return S_OK;
}

// The settings the properties name, each as the field it lives in.
#define ZV_FIELD(member) \
  [](SharedSettings & s) -> auto& { return s.member; }
constexpr auto kProxyAddress = ZV_FIELD(sender.ProxyAddress);
constexpr auto kProxyUserName = ZV_FIELD(sender.ProxyUserName);
constexpr auto kProxyPassword = ZV_FIELD(sender.ProxyPassword);
constexpr auto kEmail = ZV_FIELD(sender.Email);
constexpr auto kPassword = ZV_FIELD(sender.Password);
constexpr auto kAccountId = ZV_FIELD(sender.AccountID);
constexpr auto kCountryCode = ZV_FIELD(sender.CountryCode);
constexpr auto kProxyType = ZV_FIELD(sender.ProxyType);
constexpr auto kProxyPort = ZV_FIELD(sender.ProxyPort);
constexpr auto kDeliveryMethod = ZV_FIELD(sender.DeliveryMethod);
constexpr auto kSmtpServer = ZV_FIELD(SMTPServer);
constexpr auto kSmtpLoginName = ZV_FIELD(SMTPLoginName);
constexpr auto kSmtpPassword = ZV_FIELD(SMTPPassword);
#undef ZV_FIELD

}  // namespace

// ---- Creation and identity ------------------------------------------------------

HRESULT SMSInterface::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  Module* module = CurrentModule();
  if (!module) return E_UNEXPECTED;
  auto* instance = new (std::nothrow) SMSInterface;
  if (!instance) return E_OUTOFMEMORY;
  module->Lock();
  HRESULT hr = instance->QueryInterface(riid, object);
  if (FAILED(hr)) instance->Destroy();
  return hr;
}

void SMSInterface::Destroy() {
  refs_ = 1;  // a release during destruction must not destroy it again
  if (Module* module = CurrentModule()) module->Unlock();
  delete this;
}

HRESULT STDMETHODCALLTYPE SMSInterface::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ISMSInterface) {
    *object = static_cast<ISMSInterface*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE SMSInterface::AddRef() { return ++refs_; }

ULONG STDMETHODCALLTYPE SMSInterface::Release() {
  if (--refs_ == 0) {
    Destroy();
    return 0;
  }
  return refs_;
}

// ---- IDispatch, through the type library ------------------------------------------

HRESULT STDMETHODCALLTYPE SMSInterface::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SMSInterface::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return CurrentModule()->typeInfo().GetTypeInfo(index, lcid, info);
}

HRESULT STDMETHODCALLTYPE SMSInterface::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                      LCID lcid, DISPID* ids) {
  return CurrentModule()->typeInfo().GetIDsOfNames(riid, names, count, lcid, ids);
}

HRESULT STDMETHODCALLTYPE SMSInterface::Invoke(DISPID id, REFIID, LCID, WORD flags,
                                               DISPPARAMS* params, VARIANT* result,
                                               EXCEPINFO* exception, UINT* argError) {
  ITypeInfo* info = nullptr;
  HRESULT hr = CurrentModule()->typeInfo().Loaded(info);
  if (FAILED(hr)) return hr;
  return info->Invoke(static_cast<ISMSInterface*>(this), id, flags, params, result, exception,
                      argError);
}

// ---- Text properties -------------------------------------------------------------

HRESULT STDMETHODCALLTYPE SMSInterface::get_ProxyAddress(BSTR* pVal) {
  return Guarded([&] { return GetText(kProxyAddress, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_ProxyAddress(BSTR newVal) {
  return Guarded(
      [&] { return PutText(newVal, kProxyAddress, "ProxyAddress", Controls::kRefused); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_ProxyUserName(BSTR* pVal) {
  return Guarded([&] { return GetText(kProxyUserName, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_ProxyUserName(BSTR newVal) {
  return Guarded(
      [&] { return PutText(newVal, kProxyUserName, "ProxyUserName", Controls::kRefused); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_ProxyPassword(BSTR newVal) {
  return Guarded(
      [&] { return PutText(newVal, kProxyPassword, "ProxyPassword", Controls::kRefused); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_SMTPServer(BSTR* pVal) {
  return Guarded([&] { return GetText(kSmtpServer, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_SMTPServer(BSTR newVal) {
  return Guarded([&] { return PutText(newVal, kSmtpServer, "SMTPServer", Controls::kRefused); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_SMTPLoginName(BSTR* pVal) {
  return Guarded([&] { return GetText(kSmtpLoginName, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_SMTPLoginName(BSTR newVal) {
  return Guarded(
      [&] { return PutText(newVal, kSmtpLoginName, "SMTPLoginName", Controls::kRefused); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_SMTPPassword(BSTR* pVal) {
  return Guarded([&] { return GetText(kSmtpPassword, pVal); });
}
// No request or mail carries it (the mail route does not authenticate).
HRESULT STDMETHODCALLTYPE SMSInterface::put_SMTPPassword(BSTR newVal) {
  return Guarded(
      [&] { return PutText(newVal, kSmtpPassword, "SMTPPassword", Controls::kAllowed); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_Email(BSTR* pVal) {
  return Guarded([&] { return GetText(kEmail, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_Email(BSTR newVal) {
  return Guarded([&] { return PutText(newVal, kEmail, "Email", Controls::kRefused); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_Password(BSTR newVal) {
  return Guarded([&] { return PutText(newVal, kPassword, "Password", Controls::kRefused); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_ResponseText(BSTR* pVal) {
  return Guarded([&] {
    return GetText([](ModuleSettings& s) -> const std::string& { return s.responseText; }, pVal);
  });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_Version(BSTR* pVal) {
  return Guarded([&] { return ToBstr(kVersion, pVal); });
}

HRESULT STDMETHODCALLTYPE SMSInterface::get_AccountID(BSTR* pVal) {
  return Guarded([&] { return GetText(kAccountId, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_AccountID(BSTR newVal) {
  return Guarded([&] {
    std::string text;
    if (!platform::OleToAnsi(platform::BstrView(newVal), text)) return E_OUTOFMEMORY;
    // A valid id has at most 12 characters, so it always fits its buffer.
    if (!IsValidAccountId(text)) return Reject(kBadAccountId);
    Locked([&](ModuleSettings& s) { std::memcpy(kAccountId(s), text.c_str(), text.size() + 1); });
    return S_OK;
  });
}

// ---- Number properties ------------------------------------------------------------

HRESULT STDMETHODCALLTYPE SMSInterface::get_ProxyType(LONG* pVal) {
  return Guarded([&] { return GetNumber(kProxyType, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_ProxyType(LONG newVal) {
  return Guarded([&] {
    return PutNumber(
        newVal, kProxyType, [](LONG v) { return v >= 0 && v <= 2; }, kBadProxyType);
  });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_ProxyPort(LONG* pVal) {
  return Guarded([&] { return GetNumber(kProxyPort, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_ProxyPort(LONG newVal) {
  return Guarded([&] {
    return PutNumber(
        newVal, kProxyPort, [](LONG v) { return v >= 0; }, kBadProxyPort);
  });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_DeliveryMethod(LONG* pVal) {
  return Guarded([&] { return GetNumber(kDeliveryMethod, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_DeliveryMethod(LONG newVal) {
  return Guarded([&] {
    return PutNumber(
        newVal, kDeliveryMethod, [](LONG v) { return v >= 0 && v <= 2; }, kBadDeliveryMethod);
  });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_CountryCode(LONG* pVal) {
  // The stored text is what the request document carries; empty reads as 0.
  return Guarded([&] {
    return GetNumber([](ModuleSettings& s) { return std::atoi(kCountryCode(s)); }, pVal);
  });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_CountryCode(LONG newVal) {
  return Guarded([&] {
    if (newVal < 0 || newVal > 999) return Reject(kBadCountryCode);
    Locked([&](ModuleSettings& s) {
      std::snprintf(kCountryCode(s), sizeof s.sender.CountryCode, "%d", static_cast<int>(newVal));
    });
    return S_OK;
  });
}

}  // namespace zentrova::com
