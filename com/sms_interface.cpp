// SMSInterface: COM identity, IDispatch and the property members.
#include "com/sms_interface.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "com/module.h"
#include "com/validation.h"
#include "platform/codepage.h"

namespace zentrova::com {
namespace {

constexpr char kVersion[] = "Version 1.1";
constexpr char kBadProxyType[] =
    "Error: Invalid proxy type.\n\nValid types are: \n  0 = No Proxy, 1 = IE Proxy, 2 = Specific Proxy";
constexpr char kBadProxyPort[] = "Error: Invalid proxy port";
constexpr char kBadDeliveryMethod[] =
    "Error: Invalid delivery moethod.\n\nValid options are: 0 = SMTP (Email), 1 = HTTP (Web) and 2 = HTTP with "
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

ModuleSettings& Settings() { return CurrentModule()->settings(); }

// A setter's rejection: the reason goes to ResponseText, the value stays.
HRESULT Reject(const std::string& message) {
  Settings().responseText = message;
  return S_FALSE;
}

// The whole BSTR as ANSI text (a NUL inside it included). False when the
// conversion cannot run; *lossy tells of characters that the code page cannot hold.
bool ToAnsi(BSTR value, std::string& text, bool* lossy) {
  std::u16string_view wide;
  if (value) wide = std::u16string_view(value, SysStringLen(value));
  return platform::Utf16ToAnsi(wide, text, lossy);
}

// Stores a text property. A value that does not fit its buffer, that the code
// page cannot hold or that a NUL would cut short is refused rather than cut or
// altered: these are addresses and passwords, and a changed one fails later in
// a way that is hard to trace back.
template <size_t N>
HRESULT PutText(BSTR value, char (&buffer)[N], const char* property) {
  std::string text;
  bool lossy = false;
  if (!ToAnsi(value, text, &lossy)) return E_OUTOFMEMORY;
  if (lossy)
    return Reject(std::string("Error: The ") + property + " text holds characters that the system code page (" +
                  std::to_string(platform::AnsiCodePage()) + ") cannot represent.");
  if (text.find('\0') != std::string::npos)
    return Reject(std::string("Error: The ") + property + " text holds a NUL character, which cannot be stored.");
  if (text.size() >= N)
    return Reject(std::string("Error: The ") + property + " text is too long: at most " + std::to_string(N - 1) +
                  " characters are allowed.");
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return S_OK;
}

HRESULT GetText(std::string_view stored, BSTR* out) {
  if (!out) return E_POINTER;
  std::u16string wide;
  if (!platform::AnsiToUtf16(stored, wide)) return E_OUTOFMEMORY;
  BSTR result = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!result) return E_OUTOFMEMORY;
  *out = result;
  return S_OK;
}

HRESULT GetNumber(int32_t stored, LONG* out) {
  if (!out) return E_POINTER;
  *out = stored;
  return S_OK;
}

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

HRESULT STDMETHODCALLTYPE SMSInterface::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                                      DISPID* ids) {
  return CurrentModule()->typeInfo().GetIDsOfNames(riid, names, count, lcid, ids);
}

HRESULT STDMETHODCALLTYPE SMSInterface::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                               VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  return CurrentModule()->typeInfo().Invoke(static_cast<ISMSInterface*>(this), id, riid, lcid, flags, params,
                                            result, exception, argError);
}

// ---- Text properties -------------------------------------------------------------

HRESULT STDMETHODCALLTYPE SMSInterface::get_ProxyAddress(BSTR* pVal) {
  return Guarded([&] { return GetText(Settings().sender.ProxyAddress, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_ProxyAddress(BSTR newVal) {
  return Guarded([&] { return PutText(newVal, Settings().sender.ProxyAddress, "ProxyAddress"); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_ProxyUserName(BSTR* pVal) {
  return Guarded([&] { return GetText(Settings().sender.ProxyUserName, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_ProxyUserName(BSTR newVal) {
  return Guarded([&] { return PutText(newVal, Settings().sender.ProxyUserName, "ProxyUserName"); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_ProxyPassword(BSTR newVal) {
  return Guarded([&] { return PutText(newVal, Settings().sender.ProxyPassword, "ProxyPassword"); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_SMTPServer(BSTR* pVal) {
  return Guarded([&] { return GetText(Settings().SMTPServer, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_SMTPServer(BSTR newVal) {
  return Guarded([&] { return PutText(newVal, Settings().SMTPServer, "SMTPServer"); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_SMTPLoginName(BSTR* pVal) {
  return Guarded([&] { return GetText(Settings().SMTPLoginName, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_SMTPLoginName(BSTR newVal) {
  return Guarded([&] { return PutText(newVal, Settings().SMTPLoginName, "SMTPLoginName"); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_SMTPPassword(BSTR* pVal) {
  return Guarded([&] { return GetText(Settings().SMTPPassword, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_SMTPPassword(BSTR newVal) {
  return Guarded([&] { return PutText(newVal, Settings().SMTPPassword, "SMTPPassword"); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_Email(BSTR* pVal) {
  return Guarded([&] { return GetText(Settings().sender.Email, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_Email(BSTR newVal) {
  return Guarded([&] { return PutText(newVal, Settings().sender.Email, "Email"); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_Password(BSTR newVal) {
  return Guarded([&] { return PutText(newVal, Settings().sender.Password, "Password"); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_ResponseText(BSTR* pVal) {
  return Guarded([&] { return GetText(Settings().responseText, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_Version(BSTR* pVal) {
  return Guarded([&] { return GetText(kVersion, pVal); });
}

HRESULT STDMETHODCALLTYPE SMSInterface::get_AccountID(BSTR* pVal) {
  return Guarded([&] { return GetText(Settings().sender.AccountID, pVal); });
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_AccountID(BSTR newVal) {
  return Guarded([&] {
    std::string text;
    if (!ToAnsi(newVal, text, nullptr)) return E_OUTOFMEMORY;
    // A valid id has at most 12 characters, so it always fits its buffer.
    if (!IsValidAccountId(text)) return Reject(kBadAccountId);
    std::memcpy(Settings().sender.AccountID, text.c_str(), text.size() + 1);
    return S_OK;
  });
}

// ---- Number properties ------------------------------------------------------------

HRESULT STDMETHODCALLTYPE SMSInterface::get_ProxyType(LONG* pVal) { return GetNumber(Settings().sender.ProxyType, pVal); }
HRESULT STDMETHODCALLTYPE SMSInterface::put_ProxyType(LONG newVal) {
  return Guarded([&] {
    if (newVal < 0 || newVal > 2) return Reject(kBadProxyType);
    Settings().sender.ProxyType = newVal;
    return S_OK;
  });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_ProxyPort(LONG* pVal) { return GetNumber(Settings().sender.ProxyPort, pVal); }
HRESULT STDMETHODCALLTYPE SMSInterface::put_ProxyPort(LONG newVal) {
  return Guarded([&] {
    if (newVal < 0) return Reject(kBadProxyPort);
    Settings().sender.ProxyPort = newVal;
    return S_OK;
  });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_DeliveryMethod(LONG* pVal) {
  return GetNumber(Settings().sender.DeliveryMethod, pVal);
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_DeliveryMethod(LONG newVal) {
  return Guarded([&] {
    if (newVal < 0 || newVal > 2) return Reject(kBadDeliveryMethod);
    Settings().sender.DeliveryMethod = newVal;
    return S_OK;
  });
}
HRESULT STDMETHODCALLTYPE SMSInterface::get_CountryCode(LONG* pVal) {
  // The stored text is what the request document carries; empty reads as 0.
  return GetNumber(std::atoi(Settings().sender.CountryCode), pVal);
}
HRESULT STDMETHODCALLTYPE SMSInterface::put_CountryCode(LONG newVal) {
  return Guarded([&] {
    if (newVal < 0 || newVal > 999) return Reject(kBadCountryCode);
    std::snprintf(Settings().sender.CountryCode, sizeof Settings().sender.CountryCode, "%d",
                  static_cast<int>(newVal));
    return S_OK;
  });
}

}  // namespace zentrova::com
