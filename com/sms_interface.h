// The one scriptable object of the server. It holds nothing but its COM
// identity: every property reads and writes the module's shared settings.
#pragma once

#include <string>

#include "com/ZentrovaCOM_i.h"
#include "com/settings.h"

namespace zentrova::com {

class SMSInterface final : public ISMSInterface {
 public:
  // The class object's instance maker: refuses aggregation, returns the new
  // object asked for riid, or destroys it when it does not offer riid.
  static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argError) override;

  HRESULT STDMETHODCALLTYPE get_ProxyAddress(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_ProxyAddress(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_ProxyUserName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_ProxyUserName(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE put_ProxyPassword(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_ProxyType(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_ProxyType(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE get_ProxyPort(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_ProxyPort(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE get_DeliveryMethod(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_DeliveryMethod(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE get_SMTPServer(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_SMTPServer(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_SMTPLoginName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_SMTPLoginName(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_SMTPPassword(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_SMTPPassword(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_Email(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Email(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_AccountID(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_AccountID(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_CountryCode(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_CountryCode(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE put_Password(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_ResponseText(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE PagoraMessage(VARIANT* pRecipients, BSTR pMessage) override;
  HRESULT STDMETHODCALLTYPE get_Version(BSTR* pVal) override;

 private:
  SMSInterface() = default;
  ~SMSInterface() = default;
  void Destroy();  // forces the count to 1, gives up the module lock, frees

  ULONG refs_ = 0;  // apartment-threaded: called on one thread only
};

}  // namespace zentrova::com
